// How the protocol meets a unit that refuses, stays silent, sends malformed or unexpected reports,
// answers late or drops off the bus. Every case starts from a good unit and changes one thing.
#include "CleanBus.h"
#include "KorvantalProtocol.h"
#include "LoaderImage.h"
#include "UnitConnection.h"

#include <atomic>
#include <gtest/gtest.h>

using namespace Korvantal;
using namespace SimUnit;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

namespace
{
constexpr auto kWait = milliseconds (5000);
using Clock = std::chrono::steady_clock;

// The real transport with the protocol's resets counted: a reset puts nothing on the wire, so
// counting is the only way to see when the protocol asks for one.
class ResetCountingLink : public IDevicePacketIO
{
public:
    explicit ResetCountingLink (IDevicePacketIO& transport) : _transport (transport) {}
    Result setHandler (Handler* handler) override { return _transport.setHandler (handler); }
    Result sendPacket (const uint8_t* data, size_t length) override { return _transport.sendPacket (data, length); }
    Result reset() override
    {
        ++resets;
        return _transport.reset();
    }

    std::atomic<int> resets { 0 };

private:
    IDevicePacketIO& _transport;
};

// A good unit and the real stack over it. The protocol under test is built over the connection's
// transport through the counting link; it takes the transport over from the connection's own
// protocol, which stays idle.
struct ObservedUnit
{
    ObservedUnit() { protocol.setHandler (&connection->handler()); }
    // An unplugged unit ends the reader at once instead of at its next read time-out.
    ~ObservedUnit() { unit.unplug(); }

    std::unique_ptr<UnitConnection> connection = std::make_unique<UnitConnection>();
    SimulatedUnit& unit = connection->unit();
    ResetCountingLink link { connection->transport() };
    KorvantalProtocol protocol { &link, 3 };

    // A raw request through the real transport, so a test can send any bytes.
    KorvantalProtocol::RequestSender sender (Bytes packet)
    {
        return [this, packet] (int) { return connection->transport().sendPacket (packet.data(), packet.size()); };
    }

    Result rawPing (uint32_t timeoutMs, bool& answered)
    {
        uint8_t buffer[64] = {};
        KorvantalProtocol::MessageBuffer answer { buffer, sizeof (buffer) };
        return protocol.doPacketTransactionWithTimeout (answer, { 0xC0, 0xC1 }, timeoutMs, answered, sender ({ 0xB4, 0x00 }));
    }

    // Waits until every report the unit sent so far has reached the protocol: reports arrive in
    // order, so an unprompted one sent now comes after them. No other parameter report may be
    // on its way, or it could be counted as this one.
    void flushReports()
    {
        const size_t seen = connection->handler().parameters().size();
        unit.turnKnob (0x7777, 1.0f);
        EXPECT_TRUE (connection->handler().waitForParameters (seen + 1, kWait));
    }

    // A ping whose acknowledgement comes 300 ms late, after the transaction gave up at 50 ms.
    bool leaveALateAcknowledgement()
    {
        unit.injectFault ({ FaultKind::LateAnswer, 0xB4, 1, milliseconds (300) });
        bool answered = true;
        return rawPing (50, answered).ok && ! answered;
    }

    bool pingWorks()
    {
        bool alive = false;
        return protocol.ping (alive).ok && alive;
    }
};

struct ProtocolFaults : TestSupport::CleanBus, ObservedUnit
{
};

// Each row of a table builds its own ObservedUnit.
using ProtocolTables = TestSupport::CleanBus;

std::string captureLog (const std::function<void()>& body)
{
    testing::internal::CaptureStdout();
    body();
    return testing::internal::GetCapturedStdout();
}

bool contains (const std::string& text, const std::string& part) { return text.find (part) != std::string::npos; }

std::string outcome (const Result& result) { return result.ok ? "ok" : result.message; }

// A failed typed read must leave its record as it was.
template <typename Record, typename Before>
std::string readOutcome (const Result& result, const Record& record, const Before& before)
{
    return outcome (result) + (record == before ? "" : " (record changed)");
}

std::string pingOutcome (KorvantalProtocol& protocol)
{
    bool alive = true;
    const Result result = protocol.ping (alive);
    return result.ok ? (alive ? "alive" : "not alive") : result.message;
}

KorvantalData::ParameterMap tooManyForTheShortPreset()
{
    KorvantalData::ParameterMap preset;
    for (uint32_t id = 0; id < 129; ++id)
        preset[id] = 1.0f;
    return preset;
}

const KorvantalProtocol::State kConnected = KorvantalProtocol::kConnected;
const KorvantalProtocol::State kError = KorvantalProtocol::kError;
} // namespace

// Which failures move the protocol to its error state and reset the transport, operation by
// operation, and how far each got on the wire.
TEST_F (ProtocolTables, everyFailureLeavesItsStateAndResetsTheTransportOnlyWhenItFailsTheConnection)
{
    using Setup = std::function<void (ObservedUnit&)>;
    using Run = std::function<std::string (KorvantalProtocol&)>;
    const auto fault = [] (Fault f) { return [f] (ObservedUnit& t) { t.unit.injectFault (f); }; };
    const Setup writesFail = [] (ObservedUnit& t) { SimHid::Bus::instance().setWriteResult (t.unit.path(), -1); };
    const Setup inErrorState = [] (ObservedUnit& t) { t.protocol.failConnection(); };
    const auto readAmp = [] (KorvantalProtocol& p) {
        const KorvantalData::AmpNameAndID before { 3, "Untouched" };
        KorvantalData::AmpNameAndID amp = before;
        const Result result = p.readAmpNameAndID (4, amp);
        return readOutcome (result, std::tie (amp.id, amp.name), std::tie (before.id, before.name));
    };
    const auto readPreset = [] (KorvantalProtocol& p) {
        const KorvantalData::ParameterMap before { { 1, 1.0f } };
        KorvantalData::ParameterMap preset = before;
        const Result result = p.readPreset (0, preset);
        return readOutcome (result, preset, before);
    };

    struct Row
    {
        const char* name;
        Setup setup;
        Run run;
        std::string outcome;
        uint32_t state;
        int resets;
        size_t packetsSeen; // by the unit
    };
    const std::vector<Row> rows {
        { "read start refused", fault ({ FaultKind::Refuse, 0xC5 }), readAmp, "Got NACK waiting for TRANSFER_START", kError, 1, 1 },
        { "read chunk refused", fault ({ FaultKind::Refuse, 0xC0, 3 }),
          [] (KorvantalProtocol& p) { KorvantalData::Impulse i {}; return outcome (p.readCabData (1, i)); },
          "Got unexpected NACK during read transfer", kError, 1, 4 },
        { "read cut by unplug", fault ({ FaultKind::Unplug, 0xC0, 4 }), readPreset, "Disconnect/error while waiting", kError, 1, 5 },
        { "write start refused", fault ({ FaultKind::Refuse, 0xC2 }),
          [] (KorvantalProtocol& p) { return outcome (p.sendAmpNameAndID (4, { 7, "Seven" })); },
          "Got NACK waiting for TRANSFER_START", kConnected, 0, 1 },
        { "write chunk refused", fault ({ FaultKind::Refuse, 0xC3, 2 }),
          [] (KorvantalProtocol& p) { return outcome (p.sendAmpData (1, {})); }, "Got NACK during write transfer", kError, 1, 3 },
        { "write end refused", fault ({ FaultKind::Refuse, 0xC4 }),
          [] (KorvantalProtocol& p) { return outcome (p.sendCabName (1, "x")); }, "Got NACK during write transfer", kError, 1, 4 },
        { "write cut by unplug", fault ({ FaultKind::Unplug, 0xC3, 10 }),
          [] (KorvantalProtocol& p) { return outcome (p.sendCabData (4, KorvantalData::makeUnitImpulse())); },
          "Disconnect/error while waiting", kError, 1, 11 },
        { "write send fails", writesFail, [] (KorvantalProtocol& p) { return outcome (p.sendGlobals ({})); },
          "hid_write failed with -1", kError, 1, 0 },
        { "write encoder fails", {}, [] (KorvantalProtocol& p) { return outcome (p.sendPreset (0, tooManyForTheShortPreset())); },
          "Too many params", kConnected, 0, 0 },
        { "firmware start refused", fault ({ FaultKind::Refuse, 0xB1 }),
          [] (KorvantalProtocol& p) { return outcome (p.updateFirmware (makeLoaderImage ({ 4, 2, 0 }, 10), {})); },
          "Got NACK for firmware start", kConnected, 0, 1 },
        { "firmware chunk refused", fault ({ FaultKind::Refuse, 0xB2, 2 }),
          [] (KorvantalProtocol& p) { return outcome (p.updateFirmware (makeLoaderImage ({ 4, 2, 0 }, 300), {})); },
          "Got NACK during write transfer", kError, 1, 3 },
        { "program change refused", fault ({ FaultKind::Refuse, 0xC9 }),
          [] (KorvantalProtocol& p) { return outcome (p.setCurrentPreset (2)); }, "Got NACK for program change", kError, 1, 1 },
        { "program request refused", fault ({ FaultKind::Refuse, 0xCA }),
          [] (KorvantalProtocol& p) {
              uint32_t program = 77;
              const Result result = p.getCurrentPreset (program);
              return readOutcome (result, program, 77u);
          },
          "Got NACK for program request", kError, 1, 1 },
        { "version refused", fault ({ FaultKind::Refuse, 0xB5 }),
          [] (KorvantalProtocol& p) { KorvantalData::FirmwareVersionInfo i; return outcome (p.getFirmwareVersionInfo (i)); },
          "Got NACK for version request", kConnected, 0, 1 },
        { "version answer without B5", fault ({ FaultKind::Replace, 0xB5, 1, {}, { 0xC0, 0x07, 0xB4, 4, 1, 0, 4, 2, 0 } }),
          [] (KorvantalProtocol& p) {
              KorvantalData::FirmwareVersionInfo info;
              info.systemVersion = { 9, 9, 9, 0 };
              const Result result = p.getFirmwareVersionInfo (info);
              return readOutcome (result, info.systemVersion, std::array<uint8_t, 4> { 9, 9, 9, 0 });
          },
          "Malformed version response", kConnected, 0, 1 },
        { "version answer of 6 bytes", fault ({ FaultKind::Replace, 0xB5, 1, {}, { 0xC0, 0x06, 0xB5, 4, 1, 0, 4, 2 } }),
          [] (KorvantalProtocol& p) { KorvantalData::FirmwareVersionInfo i; return outcome (p.getFirmwareVersionInfo (i)); },
          "Malformed version response", kConnected, 0, 1 },
        { "ping refused", fault ({ FaultKind::Refuse, 0xB4 }), pingOutcome, "not alive", kConnected, 0, 1 },
        { "ping send fails", writesFail, pingOutcome, "hid_write failed with -1", kError, 1, 0 },
        { "parameter send fails", writesFail, [] (KorvantalProtocol& p) { return outcome (p.setParameter (1, 0.5f)); },
          "hid_write failed with -1", kConnected, 0, 0 },
        { "status send fails", writesFail, [] (KorvantalProtocol& p) { return outcome (p.requestStatus()); },
          "hid_write failed with -1", kConnected, 0, 0 },
        { "read in state 2", inErrorState, readAmp, "Invalid state", kError, 1, 0 },
        { "write in state 2", inErrorState, [] (KorvantalProtocol& p) { return outcome (p.sendGlobals ({})); }, "Invalid state", kError, 1, 0 },
        { "ping in state 2", inErrorState, pingOutcome, "Invalid state", kError, 1, 0 },
        { "version in state 2", inErrorState,
          [] (KorvantalProtocol& p) { KorvantalData::FirmwareVersionInfo i; return outcome (p.getFirmwareVersionInfo (i)); },
          "Invalid state", kError, 0, 0 },
        { "parameter in state 2", inErrorState, [] (KorvantalProtocol& p) { return outcome (p.setParameter (1, 0.5f)); }, "ok", kError, 0, 1 },
        { "status in state 2", inErrorState, [] (KorvantalProtocol& p) { return outcome (p.requestStatus()); }, "ok", kError, 0, 1 },
        { "ping after clearError", [] (ObservedUnit& t) { t.protocol.failConnection(); t.protocol.clearError(); }, pingOutcome, "alive",
          kConnected, 0, 1 },
    };

    for (const Row& row : rows)
    {
        SCOPED_TRACE (row.name);
        ObservedUnit t;
        if (row.setup)
            row.setup (t);
        const int resetsBefore = t.link.resets;
        EXPECT_EQ (row.run (t.protocol), row.outcome);
        EXPECT_EQ (t.protocol.getState(), row.state);
        EXPECT_EQ (t.link.resets - resetsBefore, row.resets);
        EXPECT_TRUE (t.unit.waitForHostPackets (row.packetsSeen, kWait));
        EXPECT_EQ (t.unit.hostPackets().size(), row.packetsSeen);
    }
}

// Framing failures of received reports: logged, the connection failed and the transport reset,
// and the waiter not woken, so it ends at its time-out.
TEST_F (ProtocolTables, malformedReportsFailTheConnectionWithoutWakingTheWaiter)
{
    const std::pair<FaultKind, const char*> rows[] = {
        { FaultKind::ShortReport, "Short packet/msg!" },
        { FaultKind::LengthPastReport, "Packet/msg length mismatch! (64 != 65)" },
    };

    for (const auto& [kind, message] : rows)
    {
        SCOPED_TRACE (message);
        ObservedUnit t;
        // Late enough that the waiter is already waiting when the report comes.
        t.unit.setReportDelay (milliseconds (100));
        t.unit.injectFault ({ kind, 0xB4 });
        bool answered = true;
        Result result;
        const std::string log = captureLog ([&] {
            result = t.rawPing (400, answered);
            t.flushReports(); // a loaded machine may deliver the report only after the time-out
        });
        EXPECT_TRUE (result.ok) << result.message;
        EXPECT_FALSE (answered);
        EXPECT_TRUE (contains (log, message)) << log;
        EXPECT_EQ (t.protocol.getState(), KorvantalProtocol::kError);
        EXPECT_EQ (t.link.resets, 1);
    }
}

TEST_F (ProtocolTables, unpromptedReportsReachTheHandlerOrAreLoggedAsUnhandled)
{
    Bytes wholeStatus (64, 0xAB);
    wholeStatus[0] = 0xCE;
    wholeStatus[1] = 62;

    using Parameters = std::vector<std::pair<uint16_t, float>>;
    struct Row
    {
        const char* name;
        Bytes report;
        std::vector<Bytes> statuses;  // what statusReceived gets
        Parameters parameters;        // what parameterChanged gets
        bool unhandled;
    };
    const std::vector<Row> rows {
        { "a 64-byte report with length 62 is one whole packet", wholeStatus, { Bytes (62, 0xAB) }, {}, false },
        { "an empty status", { 0xCE, 0x00 }, { Bytes {} }, {}, false },
        { "a parameter report with length 7", { 0xCF, 0x07, 0x01, 0x00, 0, 0, 0, 0, 0x80 }, {}, {}, true },
        { "a parameter report skips bytes 4 and 5", { 0xCF, 0x08, 0x02, 0x00, 0xEE, 0xEE, 0x00, 0x00, 0x80, 0x3F }, {}, { { 2, 1.0f } }, false },
        { "a code nobody expects", { 0xD7, 0x01, 0x00 }, {}, {}, true },
    };

    for (const Row& row : rows)
    {
        SCOPED_TRACE (row.name);
        ObservedUnit t;
        const std::string log = captureLog ([&] {
            // Reports arrive in order: once the knob's report is in, the row's has been handled.
            t.unit.sendReport (row.report);
            t.unit.turnKnob (0x7777, 1.0f);
            EXPECT_TRUE (t.connection->handler().waitForParameters (row.parameters.size() + 1, kWait));
        });
        Parameters parameters;
        for (const auto& p : t.connection->handler().parameters())
            parameters.emplace_back (p.id, p.value);
        parameters.pop_back(); // the flush's own report
        EXPECT_EQ (t.connection->handler().statuses(), row.statuses);
        EXPECT_EQ (parameters, row.parameters);
        EXPECT_EQ (contains (log, "WARNING: Unhandled packet!"), row.unhandled) << log;
        EXPECT_EQ (t.protocol.getState(), KorvantalProtocol::kConnected);
    }
}

// Each transaction takes only the codes it expects: another unit's answer sent first, with a code
// that some other transaction takes, is logged as unhandled and the right answer still comes.
TEST_F (ProtocolTables, eachTransactionTakesOnlyItsExpectedAnswerCodes)
{
    const Bytes ack { 0xC0, 0x00 }, start { 0xC2, 0x00 }, chunk { 0xC3, 0x01, 0x05 }, end { 0xC4, 0x00 }, program { 0xCC, 0x01, 0x05 };
    const auto readName = [] (KorvantalProtocol& p) { std::string n; return outcome (p.readCabName (4, n)); };
    const auto sendName = [] (KorvantalProtocol& p) { return outcome (p.sendCabName (4, "n")); };
    const auto version = [] (KorvantalProtocol& p) { KorvantalData::FirmwareVersionInfo i; return outcome (p.getFirmwareVersionInfo (i)); };
    const auto programRequest = [] (KorvantalProtocol& p) {
        uint32_t n = 9;
        const Result result = p.getCurrentPreset (n);
        return result.ok ? "program " + std::to_string (n) : result.message;
    };
    const std::tuple<const char*, uint8_t, Bytes, std::function<std::string (KorvantalProtocol&)>, std::string> rows[] = {
        { "ping", 0xB4, program, pingOutcome, "alive" },
        { "version", 0xB5, program, version, "ok" },
        { "block read start", 0xC5, ack, readName, "ok" },
        { "block read start", 0xC5, chunk, readName, "ok" },
        { "block read chunk", 0xC0, ack, readName, "ok" },
        { "block read chunk", 0xC0, start, readName, "ok" },
        { "block write start", 0xC2, start, sendName, "ok" },
        { "block write chunk", 0xC3, end, sendName, "ok" },
        { "program change", 0xC9, program, [] (KorvantalProtocol& p) { return outcome (p.setCurrentPreset (2)); }, "ok" },
        { "program request", 0xCA, ack, programRequest, "program 1" },
        { "firmware start", 0xB1, program, [] (KorvantalProtocol& p) { return outcome (p.updateFirmware ({ 1 }, {})); },
          "Got NACK during write transfer" },
    };

    for (const auto& [name, trigger, unexpected, run, expected] : rows)
    {
        SCOPED_TRACE (std::string (name) + ", unexpected code " + std::to_string (unexpected[0]));
        ObservedUnit t;
        t.unit.injectFault ({ FaultKind::UnexpectedPacket, trigger, 1, {}, unexpected });
        std::string result;
        const std::string log = captureLog ([&] { result = run (t.protocol); });
        EXPECT_EQ (result, expected);
        EXPECT_TRUE (contains (log, "WARNING: Unhandled packet!")) << log;
    }
}

// An unprompted parameter report reaches the handler while a transfer waits, which goes on.
TEST_F (ProtocolFaults, parameterReportDuringATransferReachesTheHandler)
{
    unit.injectFault ({ FaultKind::UnexpectedPacket, 0xC0, 9, {}, { 0xCF, 0x08, 0x05, 0x00, 0, 0, 0x00, 0x00, 0x00, 0x40 } });
    KorvantalData::AmpData data;
    EXPECT_TRUE (protocol.readAmpData (2, data).ok);
    EXPECT_EQ (data.text1, "Circuit 2");
    ASSERT_TRUE (connection->handler().waitForParameters (1, kWait));
    EXPECT_EQ (connection->handler().parameters().at (0).value, 2.0f);
}

// One transaction against one fault: its result, whether it was answered, and what landed in a
// 4-byte answer buffer; the unit stays usable after each.
TEST_F (ProtocolTables, transactionEndsAnsweredUnansweredOrTooBigForItsBuffer)
{
    struct Row
    {
        const char* name;
        std::optional<Fault> fault;
        Bytes request;
        std::vector<uint8_t> expected;
        uint32_t timeoutMs;
        std::string outcome;
        bool answered;
        uint8_t firstByte; // of the answer buffer
    };
    const std::vector<Row> rows {
        { "answered", {}, { 0xB4, 0x00 }, { 0xC0, 0xC1 }, 5000, "ok", true, 0xC0 },
        { "answer longer than the buffer", {}, { 0xB5, 0x00 }, { 0xC0, 0xC1 }, 5000, "Buffer too small: 9 > 4", true, 0 },
        { "nothing expected", {}, { 0xB4, 0x00 }, {}, 100, "ok", false, 0 },
        { "silence", Fault (FaultKind::Silence, 0xB4), { 0xB4, 0x00 }, { 0xC0, 0xC1 }, 150, "ok", false, 0 },
        { "zero time-out counts as passed", Fault (FaultKind::Delay, 0xB4, 1, milliseconds (200)), { 0xB4, 0x00 }, { 0xC0, 0xC1 }, 0,
          "ok", false, 0 },
    };

    for (const Row& row : rows)
    {
        SCOPED_TRACE (row.name);
        ObservedUnit t;
        if (row.fault)
            t.unit.injectFault (*row.fault);
        uint8_t buffer[4] = {};
        KorvantalProtocol::MessageBuffer answer { buffer, sizeof (buffer) };
        bool answered = ! row.answered;
        const auto start = Clock::now();
        Result result;
        captureLog ([&] { result = t.protocol.doPacketTransactionWithTimeout (answer, row.expected, row.timeoutMs, answered, t.sender (row.request)); });
        if (! row.answered)
        {
            EXPECT_GE (Clock::now() - start, milliseconds (row.timeoutMs));
        }
        EXPECT_EQ (outcome (result), row.outcome);
        EXPECT_EQ (answered, row.answered);
        EXPECT_EQ (buffer[0], row.firstByte);
        EXPECT_EQ (t.protocol.getState(), KorvantalProtocol::kConnected);
        EXPECT_TRUE (t.pingWorks());
    }
}

// A silent unit: a ping gives up after 3000 ms, not alive and still connected; a request after
// 60000 ms with "Timeout", which fails the connection.
TEST_F (ProtocolTables, silentUnitEndsAPingAfterThreeSecondsAndARequestAfterSixty)
{
    const auto readGlobals = [] (KorvantalProtocol& p) { KorvantalData::ParameterMap g; return outcome (p.readGlobals (g)); };
    const std::tuple<uint8_t, std::function<std::string (KorvantalProtocol&)>, std::string, int, uint32_t> rows[] = {
        { 0xB4, pingOutcome, "not alive", 3000, kConnected },
        { 0xC5, readGlobals, "Timeout", 60000, kError },
    };

    for (const auto& [code, run, expected, timeoutMs, state] : rows)
    {
        SCOPED_TRACE (expected);
        ObservedUnit t;
        t.unit.injectFault ({ FaultKind::Silence, code });
        const auto start = Clock::now();
        EXPECT_EQ (run (t.protocol), expected);
        const auto took = Clock::now() - start;
        EXPECT_GE (took, milliseconds (timeoutMs));
        EXPECT_LT (took, milliseconds (timeoutMs + 3000));
        EXPECT_EQ (t.protocol.getState(), state);
        EXPECT_EQ (t.link.resets, state == kError ? 1 : 0);
        EXPECT_EQ (t.pingWorks(), state == kConnected) << "a following transaction runs while connected";
    }
}

// The unit dropping off the bus.

TEST_F (ProtocolFaults, unplugWhileIdleReportsTheErrorStateOnce)
{
    const size_t mark = connection->handler().stateCount();
    unit.unplug();
    ASSERT_TRUE (connection->handler().waitForState (2, mark, kWait));
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kError);
    EXPECT_EQ (link.resets, 0) << "a transport failure is not a protocol error";
    const auto states = connection->handler().states();
    EXPECT_EQ (std::count (states.begin(), states.end(), 2), 1);
}

// A late answer: the protocol has no sequence numbers, so an answer that arrives after its
// transaction gave up is taken by whatever transaction waits next for the same code, or logged
// as unhandled when none does.

TEST_F (ProtocolFaults, lateAnswerMeetingTheNextTransactionIsTakenAsItsAnswer)
{
    ASSERT_TRUE (leaveALateAcknowledgement());

    // The version request is answered after the stale ping acknowledgement, which it takes.
    unit.injectFault ({ FaultKind::Delay, 0xB5, 1, milliseconds (600) });
    KorvantalData::FirmwareVersionInfo info;
    Result version;
    const std::string log = captureLog ([&] {
        version = protocol.getFirmwareVersionInfo (info);
        EXPECT_TRUE (unit.waitUntilIdle (kWait));
        flushReports();
    });
    EXPECT_EQ (version.message, "Malformed version response");
    EXPECT_TRUE (contains (log, "WARNING: Unhandled packet!")) << "the real answer arrives with nobody waiting";
}

TEST_F (ProtocolFaults, lateWriteAcknowledgementShiftsABlockWriteByOnePacket)
{
    // A late acknowledgement lands in the next block write: every packet of it is then taken as
    // acknowledged one answer early, and the write reports success before the unit has checked it.
    // Reports 50 ms apart, so each stale acknowledgement meets the next packet's wait.
    unit.setReportDelay (milliseconds (50));
    ASSERT_TRUE (leaveALateAcknowledgement());

    unit.injectFault ({ FaultKind::Delay, 0xC2, 1, milliseconds (600) });
    // Refuse the end: the unit does not store the block, but the host has already moved on.
    unit.injectFault ({ FaultKind::Refuse, 0xC4 });
    Result write;
    const std::string log = captureLog ([&] {
        write = protocol.sendAmpNameAndID (5, { 7, "Seven" });
        EXPECT_TRUE (unit.waitUntilIdle (kWait));
        flushReports();
    });
    EXPECT_TRUE (write.ok) << "reported as success";
    EXPECT_NE (unit.block (5, 5).at (0), 7) << "but the unit refused and kept the old block";
    EXPECT_TRUE (contains (log, "WARNING: Unhandled packet!")) << log;
}

TEST (ProtocolStates, transactionInTheDisconnectedStateSendsNothing)
{
    // A link whose reader has stopped reports state 0 when the protocol attaches; the real
    // transport is in that state only between its reader's end and its destruction.
    struct StoppedLink : IDevicePacketIO
    {
        int sends = 0;
        Result setHandler (Handler* h) override
        {
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
    EXPECT_EQ (pingOutcome (protocol), "Invalid state");
    KorvantalData::ParameterMap globals;
    EXPECT_EQ (protocol.readGlobals (globals).message, "Invalid state");
    EXPECT_EQ (link.sends, 0);

    protocol.clearError();
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kDisconnected) << "only the error state is cleared";
}
