// How the protocol meets a unit that refuses, stays silent, sends malformed or unexpected reports,
// answers late or drops off the bus. Every case starts from a good unit and changes one thing.
#include "CleanBus.h"
#include "KorvantalProtocol.h"
#include "LoaderImage.h"
#include "UnitConnection.h"

#include <gtest/gtest.h>

using namespace Korvantal;
using namespace SimUnit;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

namespace
{
constexpr auto kWait = milliseconds (5000);
using Clock = std::chrono::steady_clock;

struct ProtocolFaults : TestSupport::CleanBus
{
    ~ProtocolFaults() override { connection.reset(); }

    std::unique_ptr<UnitConnection> connection = std::make_unique<UnitConnection>();
    SimulatedUnit& unit = connection->unit();
    KorvantalProtocol& protocol = connection->protocol();

    // A raw request through the real transport, so a test can send any bytes.
    KorvantalProtocol::RequestSender sender (Bytes packet)
    {
        return [this, packet] (int) { return connection->transport().sendPacket (packet.data(), packet.size()); };
    }

    // Waits until every report the unit sent so far has reached the protocol: reports arrive in
    // order, so an unprompted one sent now comes after them.
    void flushReports()
    {
        const size_t seen = connection->handler().parameters().size();
        unit.turnKnob (0x7777, 1.0f);
        EXPECT_TRUE (connection->handler().waitForParameters (seen + 1, kWait));
    }

    bool pingWorks()
    {
        bool alive = false;
        return protocol.ping (alive).ok && alive;
    }
};

std::string captureLog (const std::function<void()>& body)
{
    testing::internal::CaptureStdout();
    body();
    return testing::internal::GetCapturedStdout();
}

bool contains (const std::string& text, const std::string& part) { return text.find (part) != std::string::npos; }

KorvantalData::AmpNameAndID someAmp() { return { 7, "Seven" }; }
} // namespace

// Which failures move the protocol to its error state, operation by operation.

TEST_F (ProtocolFaults, refusedBlockReadStartFailsTheConnection)
{
    unit.injectFault ({ FaultKind::Refuse, 0xC5 });
    KorvantalData::AmpNameAndID amp { 3, "Untouched" };
    const Result result = protocol.readAmpNameAndID (4, amp);
    EXPECT_EQ (result.message, "Got NACK waiting for TRANSFER_START");
    EXPECT_EQ (amp.name, "Untouched");
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kError);

    const size_t before = unit.hostPackets().size();
    bool alive = true;
    EXPECT_EQ (protocol.ping (alive).message, "Invalid state");
    EXPECT_EQ (unit.hostPackets().size(), before) << "a transaction in state 2 sends nothing";
}

TEST_F (ProtocolFaults, refusedBlockWriteStartKeepsTheConnection)
{
    unit.injectFault ({ FaultKind::Refuse, 0xC2 });
    EXPECT_EQ (protocol.sendAmpNameAndID (4, someAmp()).message, "Got NACK waiting for TRANSFER_START");
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kConnected);
    EXPECT_TRUE (pingWorks());
}

TEST_F (ProtocolFaults, refusedReadChunkFailsTheConnection)
{
    unit.injectFault ({ FaultKind::Refuse, 0xC0, 3 });
    KorvantalData::Impulse impulse {};
    EXPECT_EQ (protocol.readCabData (1, impulse).message, "Got unexpected NACK during read transfer");
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kError);
}

TEST_F (ProtocolFaults, refusedWriteChunkFailsTheConnection)
{
    unit.injectFault ({ FaultKind::Refuse, 0xC3, 2 });
    EXPECT_EQ (protocol.sendAmpData (1, {}).message, "Got NACK during write transfer");
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kError);
}

TEST_F (ProtocolFaults, refusedWriteEndFailsTheConnection)
{
    unit.injectFault ({ FaultKind::Refuse, 0xC4 });
    EXPECT_EQ (protocol.sendCabName (1, "x").message, "Got NACK during write transfer");
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kError);
}

TEST_F (ProtocolFaults, refusedFirmwareStartKeepsTheConnection)
{
    unit.injectFault ({ FaultKind::Refuse, 0xB1 });
    EXPECT_EQ (protocol.updateFirmware (makeLoaderImage ({ 4, 2, 0 }, 10), {}).message, "Got NACK for firmware start");
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kConnected);
    EXPECT_TRUE (pingWorks());
}

TEST_F (ProtocolFaults, refusedFirmwareChunkFailsTheConnection)
{
    unit.injectFault ({ FaultKind::Refuse, 0xB2, 2 });
    EXPECT_EQ (protocol.updateFirmware (makeLoaderImage ({ 4, 2, 0 }, 300), {}).message, "Got NACK during write transfer");
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kError);
}

TEST_F (ProtocolFaults, refusedProgramChangeFailsTheConnection)
{
    EXPECT_EQ (protocol.setCurrentPreset (9).message, "Got NACK for program change");
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kError);
}

TEST_F (ProtocolFaults, refusedProgramRequestFailsTheConnection)
{
    unit.injectFault ({ FaultKind::Refuse, 0xCA });
    uint32_t program = 77;
    EXPECT_EQ (protocol.getCurrentPreset (program).message, "Got NACK for program request");
    EXPECT_EQ (program, 77u);
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kError);
}

TEST_F (ProtocolFaults, programAnswerWithoutItsNumberIsRefused)
{
    unit.injectFault ({ FaultKind::Replace, 0xCA, 1, {}, { 0xCC, 0x00 } });
    uint32_t program = 77;
    EXPECT_EQ (protocol.getCurrentPreset (program).message, "Malformed program answer");
    EXPECT_EQ (program, 77u);
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kError);
}

TEST_F (ProtocolFaults, refusedVersionRequestKeepsTheConnection)
{
    unit.injectFault ({ FaultKind::Refuse, 0xB5 });
    KorvantalData::FirmwareVersionInfo info;
    EXPECT_EQ (protocol.getFirmwareVersionInfo (info).message, "Got NACK for version request");
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kConnected);
}

TEST_F (ProtocolFaults, malformedVersionAnswerKeepsTheConnectionAndTheRecord)
{
    unit.injectFault ({ FaultKind::Replace, 0xB5, 1, {}, { 0xC0, 0x07, 0xB4, 4, 1, 0, 4, 2, 0 } });
    KorvantalData::FirmwareVersionInfo info;
    info.systemVersion = { 9, 9, 9, 0 };
    EXPECT_EQ (protocol.getFirmwareVersionInfo (info).message, "Malformed version response");
    EXPECT_EQ (info.systemVersion, (std::array<uint8_t, 4> { 9, 9, 9, 0 }));

    unit.injectFault ({ FaultKind::Replace, 0xB5, 1, {}, { 0xC0, 0x06, 0xB5, 4, 1, 0, 4, 2 } });
    EXPECT_EQ (protocol.getFirmwareVersionInfo (info).message, "Malformed version response");
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kConnected);
}

TEST_F (ProtocolFaults, setParameterAndStatusRequestSendInAnyState)
{
    protocol.failConnection();
    ASSERT_EQ (protocol.getState(), KorvantalProtocol::kError);
    EXPECT_TRUE (protocol.setParameter (1, 0.5f).ok);
    EXPECT_TRUE (protocol.requestStatus().ok);
    EXPECT_TRUE (unit.waitForHostPackets (2, kWait));
}

TEST_F (ProtocolFaults, clearErrorLetsTransactionsRunAgain)
{
    protocol.failConnection();
    EXPECT_FALSE (pingWorks());
    protocol.clearError();
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kConnected);
    EXPECT_TRUE (pingWorks());
}

// Framing failures of received reports.

TEST_F (ProtocolFaults, oneByteReportIsAShortPacketAndFailsTheConnection)
{
    unit.injectFault ({ FaultKind::ShortReport, 0xB4 });
    uint8_t buffer[64] = {};
    KorvantalProtocol::MessageBuffer answer { buffer, sizeof (buffer) };
    bool answered = true;
    Result result;
    const std::string log = captureLog ([&] {
        result = protocol.doPacketTransactionWithTimeout (answer, { 0xC0, 0xC1 }, 300, answered, sender ({ 0xB4, 0x00 }));
        flushReports(); // a loaded machine may deliver the report only after the time-out
    });

    // The malformed report does not wake the waiter, which ends at its time-out.
    EXPECT_TRUE (result.ok);
    EXPECT_FALSE (answered);
    EXPECT_TRUE (contains (log, "Short packet/msg!")) << log;
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kError);
}

TEST_F (ProtocolFaults, lengthBytePastTheReportIsAMismatchAndFailsTheConnection)
{
    unit.injectFault ({ FaultKind::LengthPastReport, 0xB4 });
    bool alive = true;
    uint8_t buffer[64] = {};
    KorvantalProtocol::MessageBuffer answer { buffer, sizeof (buffer) };
    const std::string log = captureLog ([&] {
        EXPECT_TRUE (protocol.doPacketTransactionWithTimeout (answer, { 0xC0, 0xC1 }, 300, alive, sender ({ 0xB4, 0x00 })).ok);
        flushReports();
    });
    EXPECT_FALSE (alive);
    EXPECT_TRUE (contains (log, "Packet/msg length mismatch! (64 != 65)")) << log;
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kError);
}

TEST_F (ProtocolFaults, wholeReportWithLength62IsAPacket)
{
    Bytes report (64, 0xAB);
    report[0] = 0xCE;
    report[1] = 62;
    unit.sendReport (report);
    ASSERT_TRUE (connection->handler().waitForStatuses (1, kWait));
    EXPECT_EQ (connection->handler().statuses().at (0), Bytes (62, 0xAB));
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kConnected);
}

TEST_F (ProtocolFaults, emptyStatusReportReachesTheHandler)
{
    unit.sendReport ({ 0xCE, 0x00 });
    ASSERT_TRUE (connection->handler().waitForStatuses (1, kWait));
    EXPECT_TRUE (connection->handler().statuses().at (0).empty());
}

TEST_F (ProtocolFaults, shortParameterReportIsUnhandledAndLongOneIgnoresBytes4And5)
{
    const std::string log = captureLog ([&] {
        unit.sendReport ({ 0xCF, 0x07, 0x01, 0x00, 0, 0, 0, 0, 0x80 });
        unit.sendReport ({ 0xCF, 0x08, 0x02, 0x00, 0xEE, 0xEE, 0x00, 0x00, 0x80, 0x3F });
        ASSERT_TRUE (connection->handler().waitForParameters (1, kWait));
    });
    EXPECT_TRUE (contains (log, "WARNING: Unhandled packet!")) << log;
    const auto reports = connection->handler().parameters();
    ASSERT_EQ (reports.size(), 1u);
    EXPECT_EQ (reports[0].id, 2);
    EXPECT_EQ (reports[0].value, 1.0f);
}

TEST_F (ProtocolFaults, unexpectedPacketInATransferIsLoggedAndTheTransferGoesOn)
{
    unit.injectFault ({ FaultKind::UnexpectedPacket, 0xC0, 5, {}, { 0xD7, 0x01, 0x00 } });
    unit.injectFault ({ FaultKind::UnexpectedPacket, 0xC0, 9, {}, { 0xCF, 0x08, 0x05, 0x00, 0, 0, 0x00, 0x00, 0x00, 0x40 } });
    KorvantalData::AmpData data;
    Result result;
    const std::string log = captureLog ([&] { result = protocol.readAmpData (2, data); });
    EXPECT_TRUE (result.ok);
    EXPECT_EQ (data.text1, "Circuit 2");
    EXPECT_TRUE (contains (log, "WARNING: Unhandled packet!")) << log;
    ASSERT_TRUE (connection->handler().waitForParameters (1, kWait));
    EXPECT_EQ (connection->handler().parameters().at (0).value, 2.0f);
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kConnected);
}

TEST_F (ProtocolFaults, answerLongerThanTheBufferFailsTheTransaction)
{
    uint8_t buffer[4] = {};
    KorvantalProtocol::MessageBuffer answer { buffer, sizeof (buffer) };
    unit.setVersions ({ 4, 1, 0 }, { 4, 2, 0 });
    bool answered = false;
    const Result result = protocol.doPacketTransactionWithTimeout (answer, { 0xC0, 0xC1 }, 5000, answered, sender ({ 0xB5, 0x00 }));
    EXPECT_EQ (result.message, "Buffer too small: 9 > 4");
    EXPECT_TRUE (answered);
    EXPECT_EQ (buffer[0], 0) << "nothing copied";
}

TEST_F (ProtocolFaults, transactionExpectingNothingTakesNoAnswer)
{
    uint8_t buffer[64] = {};
    KorvantalProtocol::MessageBuffer answer { buffer, sizeof (buffer) };
    bool answered = true;
    captureLog ([&] {
        EXPECT_TRUE (protocol.doPacketTransactionWithTimeout (answer, {}, 100, answered, sender ({ 0xB4, 0x00 })).ok);
    });
    EXPECT_FALSE (answered);
}

// Silence and time-outs.

TEST_F (ProtocolFaults, silentUnitEndsAShortTransactionUnansweredAndConnected)
{
    unit.injectFault ({ FaultKind::Silence, 0xB4 });
    uint8_t buffer[64] = {};
    KorvantalProtocol::MessageBuffer answer { buffer, sizeof (buffer) };
    bool answered = true;
    const auto start = Clock::now();
    EXPECT_TRUE (protocol.doPacketTransactionWithTimeout (answer, { 0xC0, 0xC1 }, 150, answered, sender ({ 0xB4, 0x00 })).ok);
    EXPECT_GE (Clock::now() - start, milliseconds (150));
    EXPECT_FALSE (answered);
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kConnected);
    EXPECT_TRUE (pingWorks());
}

TEST_F (ProtocolFaults, zeroTimeOutCountsAsAlreadyPassed)
{
    unit.injectFault ({ FaultKind::Delay, 0xB4, 1, milliseconds (200) });
    uint8_t buffer[64] = {};
    KorvantalProtocol::MessageBuffer answer { buffer, sizeof (buffer) };
    bool answered = true;
    EXPECT_TRUE (protocol.doPacketTransactionWithTimeout (answer, { 0xC0, 0xC1 }, 0, answered, sender ({ 0xB4, 0x00 })).ok);
    EXPECT_FALSE (answered);
}

TEST_F (ProtocolFaults, pingOfASilentUnitSucceedsNotAliveAfterThreeSeconds)
{
    unit.injectFault ({ FaultKind::Silence, 0xB4 });
    bool alive = true;
    const auto start = Clock::now();
    EXPECT_TRUE (protocol.ping (alive).ok);
    const auto took = Clock::now() - start;
    EXPECT_FALSE (alive);
    EXPECT_GE (took, milliseconds (3000));
    EXPECT_LT (took, milliseconds (3000 + 2000));
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kConnected);
    EXPECT_TRUE (pingWorks()) << "a following transaction still runs";
}

TEST_F (ProtocolFaults, refusedPingLeavesTheUnitNotAlive)
{
    unit.injectFault ({ FaultKind::Refuse, 0xB4 });
    bool alive = true;
    EXPECT_TRUE (protocol.ping (alive).ok);
    EXPECT_FALSE (alive);
}

TEST_F (ProtocolFaults, failedSendIsTheTransactionsResultWithoutWaiting)
{
    SimHid::Bus::instance().setWriteResult (unit.path(), -1);
    bool alive = true;
    const Result result = protocol.ping (alive);
    SimHid::Bus::instance().setWriteResult (unit.path(), std::nullopt);
    EXPECT_FALSE (result.ok);
    EXPECT_TRUE (contains (result.message, "hid_write")) << result.message;
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kError) << "a failed ping fails the connection";
}

// The unit dropping off the bus.

TEST_F (ProtocolFaults, unplugDuringABlockWriteEndsTheWaitAtOnce)
{
    unit.injectFault ({ FaultKind::Unplug, 0xC3, 10 });
    KorvantalData::Impulse impulse = KorvantalData::makeUnitImpulse();
    const auto start = Clock::now();
    const Result result = protocol.sendCabData (4, impulse);
    EXPECT_LT (Clock::now() - start, milliseconds (3000)) << "well under the 60 s time-out";
    EXPECT_EQ (result.message, "Disconnect/error while waiting");
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kError);

    const auto states = connection->handler().states();
    EXPECT_EQ (std::count (states.begin(), states.end(), 2), 1);

    const auto teardown = Clock::now();
    connection.reset();
    EXPECT_LT (Clock::now() - teardown, milliseconds (3000));
}

TEST_F (ProtocolFaults, unplugDuringABlockReadEndsTheWaitAtOnce)
{
    unit.injectFault ({ FaultKind::Unplug, 0xC0, 4 });
    KorvantalData::ParameterMap preset { { 1, 1.0f } };
    const auto start = Clock::now();
    EXPECT_EQ (protocol.readPreset (0, preset).message, "Disconnect/error while waiting");
    EXPECT_LT (Clock::now() - start, milliseconds (3000));
    EXPECT_EQ (preset.size(), 1u) << "a failed read leaves its record untouched";

    bool alive = true;
    EXPECT_EQ (protocol.ping (alive).message, "Invalid state");
}

TEST_F (ProtocolFaults, unplugWhileIdleReportsTheErrorStateOnce)
{
    unit.unplug();
    ASSERT_TRUE (connection->handler().waitForState (2, kWait));
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kError);
    connection->disconnect();
    const auto states = connection->handler().states();
    EXPECT_EQ (std::count (states.begin(), states.end(), 2), 1);
}

// A late answer: the protocol has no sequence numbers, so an answer that arrives after its
// transaction gave up is taken by whatever transaction waits next for the same code.

TEST_F (ProtocolFaults, lateAnswerAfterTheNextTransactionEndedIsOnlyLogged)
{
    unit.injectFault ({ FaultKind::LateAnswer, 0xB4, 1, milliseconds (300) });
    uint8_t buffer[64] = {};
    KorvantalProtocol::MessageBuffer answer { buffer, sizeof (buffer) };
    bool answered = true;
    ASSERT_TRUE (protocol.doPacketTransactionWithTimeout (answer, { 0xC0, 0xC1 }, 50, answered, sender ({ 0xB4, 0x00 })).ok);
    ASSERT_FALSE (answered);

    const std::string log = captureLog ([&] {
        uint32_t program = 0;
        EXPECT_TRUE (protocol.getCurrentPreset (program).ok);
        // The program request finished long before the stale acknowledgement came.
        EXPECT_TRUE (unit.waitUntilIdle (kWait));
        flushReports();
    });
    EXPECT_TRUE (contains (log, "WARNING: Unhandled packet!")) << log;
}

TEST_F (ProtocolFaults, lateAnswerMeetingTheNextTransactionIsTakenAsItsAnswer)
{
    unit.injectFault ({ FaultKind::LateAnswer, 0xB4, 1, milliseconds (300) });
    uint8_t buffer[64] = {};
    KorvantalProtocol::MessageBuffer answer { buffer, sizeof (buffer) };
    bool answered = true;
    ASSERT_TRUE (protocol.doPacketTransactionWithTimeout (answer, { 0xC0, 0xC1 }, 50, answered, sender ({ 0xB4, 0x00 })).ok);
    ASSERT_FALSE (answered);

    // The version request is answered after the stale ping acknowledgement, which it takes.
    unit.injectFault ({ FaultKind::Delay, 0xB5, 1, milliseconds (600) });
    KorvantalData::FirmwareVersionInfo info;
    std::string log;
    const Result version = [&] {
        Result r;
        log = captureLog ([&] {
            r = protocol.getFirmwareVersionInfo (info);
            EXPECT_TRUE (unit.waitUntilIdle (kWait));
            flushReports();
        });
        return r;
    }();
    EXPECT_EQ (version.message, "Malformed version response");
    EXPECT_TRUE (contains (log, "WARNING: Unhandled packet!")) << "the real answer arrives with nobody waiting";
}

TEST_F (ProtocolFaults, lateWriteAcknowledgementShiftsABlockWriteByOnePacket)
{
    // A late acknowledgement lands in the next block write: every packet of it is then taken as
    // acknowledged one answer early, and the write reports success before the unit has checked it.
    // Reports 50 ms apart, so each stale acknowledgement meets the next packet's wait.
    unit.setReportDelay (milliseconds (50));
    unit.injectFault ({ FaultKind::LateAnswer, 0xB4, 1, milliseconds (300) });
    uint8_t buffer[64] = {};
    KorvantalProtocol::MessageBuffer answer { buffer, sizeof (buffer) };
    bool answered = true;
    ASSERT_TRUE (protocol.doPacketTransactionWithTimeout (answer, { 0xC0, 0xC1 }, 50, answered, sender ({ 0xB4, 0x00 })).ok);

    unit.injectFault ({ FaultKind::Delay, 0xC2, 1, milliseconds (600) });
    // Refuse the end: the unit does not store the block, but the host has already moved on.
    unit.injectFault ({ FaultKind::Refuse, 0xC4 });
    Result write;
    const std::string log = captureLog ([&] {
        write = protocol.sendAmpNameAndID (5, someAmp());
        EXPECT_TRUE (unit.waitUntilIdle (kWait));
        flushReports();
    });
    EXPECT_TRUE (write.ok) << "reported as success";
    EXPECT_NE (unit.block (5, 5).at (0), 7) << "but the unit refused and kept the old block";
    EXPECT_TRUE (contains (log, "WARNING: Unhandled packet!")) << log;
}

TEST (ProtocolStates, transactionInTheDisconnectedStateSendsNothing)
{
    // A link whose reader has stopped reports state 0 when the protocol attaches.
    struct StoppedLink : IDevicePacketIO
    {
        Handler* handler = nullptr;
        int sends = 0;
        Result setHandler (Handler* h) override
        {
            handler = h;
            if (h != nullptr)
                h->connectionStateChanged (0);
            return Result::success;
        }
        Result sendPacket (const uint8_t*, size_t) override
        {
            ++sends;
            return Result::success;
        }
        Result reset() override { return Result::success; }
    } link;

    KorvantalProtocol protocol (&link, 3);
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kDisconnected);
    bool alive = true;
    EXPECT_EQ (protocol.ping (alive).message, "Invalid state");
    KorvantalData::ParameterMap globals;
    EXPECT_EQ (protocol.readGlobals (globals).message, "Invalid state");
    EXPECT_EQ (link.sends, 0);

    protocol.clearError();
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kDisconnected) << "only the error state is cleared";
}
