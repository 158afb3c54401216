// The protocol's operations against the simulated unit, through the real HID device, transport
// and protocol: the exact bytes the unit receives, and what the host makes of the answers.
#include "CleanBus.h"
#include "KorvantalProtocol.h"
#include "LoaderImage.h"
#include "UnitConnection.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace Korvantal;
using namespace SimUnit;
using Bytes = std::vector<uint8_t>;

namespace
{
constexpr auto kWait = std::chrono::milliseconds (5000);

// Written out apart from the product's checksum: a 32-bit sum folded back to 16 bits.
uint16_t referenceChecksum (const Bytes& bytes)
{
    uint32_t sum = 0;

    for (uint8_t b : bytes)
        sum = (((sum >> 1) | ((sum & 1u) << 15)) + b) & 0xFFFFu;

    return static_cast<uint16_t> (sum);
}

uint32_t floatBits (float value)
{
    uint32_t bits = 0;
    std::memcpy (&bits, &value, sizeof (bits));
    return bits;
}

void putWord (Bytes& block, size_t offset, uint32_t word)
{
    for (int i = 0; i < 4; ++i)
        block[offset + static_cast<size_t> (i)] = static_cast<uint8_t> (word >> (8 * i));
}

Bytes pairBlock (const std::vector<std::pair<uint32_t, uint32_t>>& pairs, size_t size)
{
    Bytes block (size, 0);

    for (size_t at = 0; at < size; at += 8)
        putWord (block, at, 0xFFFFFFFF);

    for (size_t i = 0; i < pairs.size(); ++i)
    {
        putWord (block, 8 * i, pairs[i].first);
        putWord (block, 8 * i + 4, pairs[i].second);
    }

    return block;
}

struct ProtocolWire : TestSupport::CleanBus
{
    std::unique_ptr<UnitConnection> connection = std::make_unique<UnitConnection>();
    SimulatedUnit& unit = connection->unit();
    KorvantalProtocol& protocol = connection->protocol();
};

// Checks a whole block write as the unit saw it: start, chunks of 62 bytes and a shorter last
// one, then the end packet with type, index, word count and checksum.
void expectBlockWrite (const std::vector<Bytes>& packets, uint8_t type, uint16_t index, size_t fullChunks, size_t lastChunk,
                       uint8_t wordsLow, uint8_t wordsHigh)
{
    ASSERT_EQ (packets.size(), fullChunks + (lastChunk > 0 ? 1 : 0) + 2);
    EXPECT_EQ (packets.front(), (Bytes { 0xC2, 0x00 }));

    Bytes data;

    for (size_t i = 1; i + 1 < packets.size(); ++i)
    {
        const size_t n = i <= fullChunks ? 62 : lastChunk;
        ASSERT_EQ (packets[i].size(), n + 2) << "chunk " << i;
        EXPECT_EQ (packets[i][0], 0xC3);
        EXPECT_EQ (packets[i][1], n);
        data.insert (data.end(), packets[i].begin() + 2, packets[i].end());
    }

    const uint16_t sum = referenceChecksum (data);
    EXPECT_EQ (packets.back(), (Bytes { 0xC4, 0x07, type, static_cast<uint8_t> (index & 0xFF), static_cast<uint8_t> (index >> 8),
                                        wordsLow, wordsHigh, static_cast<uint8_t> (sum & 0xFF), static_cast<uint8_t> (sum >> 8) }));
}

Bytes concatenatedChunks (const std::vector<Bytes>& packets)
{
    Bytes data;

    for (size_t i = 1; i + 1 < packets.size(); ++i)
        data.insert (data.end(), packets[i].begin() + 2, packets[i].end());

    return data;
}

// A block read as the unit saw it: the request, then one "next" per chunk and one for the end.
void expectBlockRead (const std::vector<Bytes>& packets, uint8_t type, uint16_t index, size_t size)
{
    const size_t nexts = (size + 61) / 62 + 1;
    ASSERT_EQ (packets.size(), 1 + nexts);
    EXPECT_EQ (packets[0], (Bytes { 0xC5, 0x05, type, static_cast<uint8_t> (index & 0xFF), static_cast<uint8_t> (index >> 8), 0x00, 0x00 }));

    for (size_t i = 1; i < packets.size(); ++i)
        EXPECT_EQ (packets[i], (Bytes { 0xC0, 0x00 })) << "next " << i;
}
} // namespace

TEST (BlockChecksum, rotatesRightThenAddsEachByte)
{
    const uint8_t abc[] = { 'a', 'b', 'c' };
    EXPECT_EQ (blockChecksum (abc, 3), 0x40AC);

    const Bytes zeros (4096, 0);
    EXPECT_EQ (blockChecksum (zeros.data(), zeros.size()), 0);

    Bytes mixed (300);
    for (size_t i = 0; i < mixed.size(); ++i)
        mixed[i] = static_cast<uint8_t> (i * 37 + 11);
    EXPECT_EQ (blockChecksum (mixed.data(), mixed.size()), referenceChecksum (mixed));
}

TEST_F (ProtocolWire, pingSendsB400AndFindsTheUnitAlive)
{
    bool alive = false;
    ASSERT_TRUE (protocol.ping (alive).ok);
    EXPECT_TRUE (alive);
    EXPECT_EQ (unit.hostPackets(), (std::vector<Bytes> { { 0xB4, 0x00 } }));
}

TEST_F (ProtocolWire, versionRequestFillsBothVersionsAndTheExtraCode)
{
    unit.setVersions ({ 4, 1, 2 }, { 1, 0, 3 });
    KorvantalData::FirmwareVersionInfo info;
    info.extraCode = 7;
    ASSERT_TRUE (protocol.getFirmwareVersionInfo (info).ok);
    EXPECT_EQ (unit.hostPackets(), (std::vector<Bytes> { { 0xB5, 0x00 } }));
    EXPECT_EQ (info.systemVersion, (std::array<uint8_t, 4> { 4, 1, 2, 0 }));
    EXPECT_EQ (info.dspVersion, (std::array<uint8_t, 4> { 1, 0, 3, 0 }));
    EXPECT_EQ (info.extraCode, -1);

    unit.setVersions ({ 4, 1, 2 }, { 1, 0, 3 }, 2);
    ASSERT_TRUE (protocol.getFirmwareVersionInfo (info).ok);
    EXPECT_EQ (info.extraCode, 2);

    unit.setVersions ({ 4, 1, 2 }, { 1, 0, 3 }, 5);
    ASSERT_TRUE (protocol.getFirmwareVersionInfo (info).ok);
    EXPECT_EQ (info.extraCode, -1);
}

TEST_F (ProtocolWire, ampNameAndIDGoesOutAs68BytesInChunksOf62And6)
{
    KorvantalData::AmpNameAndID amp { 0x01020304, "Tweedish" };
    ASSERT_TRUE (protocol.sendAmpNameAndID (5, amp).ok);
    const auto packets = unit.hostPackets();
    expectBlockWrite (packets, 5, 5, 1, 6, 17, 0);

    Bytes expected (68, 0);
    putWord (expected, 0, 0x01020304);
    for (size_t i = 0; i < amp.name.size(); ++i)
        expected[4 + 4 * i] = static_cast<uint8_t> (amp.name[i]);
    EXPECT_EQ (concatenatedChunks (packets), expected);
    EXPECT_EQ (unit.block (5, 5), expected);
}

TEST_F (ProtocolWire, cabinetNameGoesOutAs64BytesInChunksOf62And2)
{
    ASSERT_TRUE (protocol.sendCabName (6, "Greenback 4x12 closed").ok);
    const auto packets = unit.hostPackets();
    expectBlockWrite (packets, 9, 6, 1, 2, 16, 0);

    Bytes expected (64, 0);
    const std::string cut = std::string ("Greenback 4x12 closed").substr (0, 15);
    for (size_t i = 0; i < cut.size(); ++i)
        expected[4 * i] = static_cast<uint8_t> (cut[i]);
    EXPECT_EQ (unit.block (9, 6), expected);
}

TEST_F (ProtocolWire, globalsGoOutAs1024BytesIn16ChunksOf62AndOneOf32)
{
    const KorvantalData::ParameterMap globals { { 3, 0.75f }, { 1, -2.0f } };
    ASSERT_TRUE (protocol.sendGlobals (globals).ok);
    const auto packets = unit.hostPackets();
    expectBlockWrite (packets, 1, 0, 16, 32, 0x00, 0x01);
    EXPECT_EQ (concatenatedChunks (packets), pairBlock ({ { 1, floatBits (-2.0f) }, { 3, floatBits (0.75f) } }, 1024));
}

TEST_F (ProtocolWire, presetGoesOutInTheShortFormInVariant3)
{
    const KorvantalData::ParameterMap preset { { 0x10, 1.5f } };
    ASSERT_TRUE (protocol.sendPreset (2, preset).ok);
    const auto packets = unit.hostPackets();
    expectBlockWrite (packets, 3, 2, 16, 32, 0x00, 0x01);

    // The unit keeps the slot at its full size, the rest holding no parameters.
    EXPECT_EQ (unit.block (3, 2), pairBlock ({ { 0x10, floatBits (1.5f) } }, 4096));
}

TEST_F (ProtocolWire, ampDataGoesOutAs4096BytesIn66ChunksOf62AndOneOf4)
{
    KorvantalData::AmpData data;
    data.parameters = { { 7, 0.125f } };
    data.text1 = "R1 68k";
    data.text2 = "C3 22n";
    ASSERT_TRUE (protocol.sendAmpData (4, data).ok);
    const auto packets = unit.hostPackets();
    expectBlockWrite (packets, 6, 4, 66, 4, 0x00, 0x04);

    Bytes expected = pairBlock ({ { 7, floatBits (0.125f) } }, 2048);
    expected.resize (4096, 0);
    for (size_t i = 0; i < data.text1.size(); ++i)
        expected[2048 + 4 * i] = static_cast<uint8_t> (data.text1[i]);
    for (size_t i = 0; i < data.text2.size(); ++i)
        expected[3072 + 4 * i] = static_cast<uint8_t> (data.text2[i]);
    EXPECT_EQ (unit.block (6, 4), expected);
}

TEST_F (ProtocolWire, finishingFilterGoesOutAsItsWordsUnchanged)
{
    KorvantalData::FinishingFilter filter {};
    for (size_t i = 0; i < filter.size(); ++i)
        filter[i] = static_cast<uint32_t> (i * 0x01010101u);
    ASSERT_TRUE (protocol.sendFinishingFilter (0, filter).ok);
    expectBlockWrite (unit.hostPackets(), 8, 0, 66, 4, 0x00, 0x04);

    Bytes expected (4096);
    for (size_t i = 0; i < filter.size(); ++i)
        putWord (expected, 4 * i, filter[i]);
    EXPECT_EQ (unit.block (8, 0), expected);
}

TEST_F (ProtocolWire, cabinetDataGoesOutAs8192BytesIn132ChunksOf62AndOneOf8)
{
    KorvantalData::Impulse impulse {};
    for (size_t s = 0; s < 1024; ++s)
    {
        impulse[0][s] = static_cast<float> (s) / 1024.0f;
        impulse[1][s] = -static_cast<float> (s) / 2048.0f;
    }

    ASSERT_TRUE (protocol.sendCabData (6, impulse).ok);
    expectBlockWrite (unit.hostPackets(), 10, 6, 132, 8, 0x00, 0x08);

    const Bytes stored = unit.block (10, 6);
    ASSERT_EQ (stored.size(), 8192u);
    uint32_t bits = 0;
    std::memcpy (&bits, stored.data() + 4 * 1024 + 4 * 100, 4); // channel 1, sample 100 (host is little-endian)
    EXPECT_EQ (bits, floatBits (-100.0f / 2048.0f));
}

TEST_F (ProtocolWire, longPresetFormGoesOutIn4096BytesOutsideVariants1And3)
{
    connection.reset();
    SimHid::Bus::instance().reset();
    UnitConnection variant0 ({}, 0);
    ASSERT_TRUE (variant0.protocol().sendPreset (1, { { 0x10, 2.0f } }).ok);
    expectBlockWrite (variant0.unit().hostPackets(), 3, 1, 66, 4, 0x00, 0x04);
}

TEST_F (ProtocolWire, tooManyPresetParametersFailInTheEncoderAndSendNothing)
{
    KorvantalData::ParameterMap preset;
    for (uint32_t id = 0; id < 129; ++id)
        preset[id] = 1.0f;

    const Result result = protocol.sendPreset (0, preset);
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, "Too many params");
    EXPECT_TRUE (unit.hostPackets().empty());
    EXPECT_EQ (protocol.getState(), KorvantalProtocol::kConnected);
}

TEST_F (ProtocolWire, presetReadAsksForType3AndDecodesTheParameters)
{
    unit.setBlock (3, 2, pairBlock ({ { 0x10, floatBits (0.5f) }, { 0x22, floatBits (3.0f) } }, 4096));
    KorvantalData::ParameterMap preset { { 99, 9.0f } };
    ASSERT_TRUE (protocol.readPreset (2, preset).ok);
    expectBlockRead (unit.hostPackets(), 3, 2, 4096);
    EXPECT_EQ (preset, (KorvantalData::ParameterMap { { 0x10, 0.5f }, { 0x22, 3.0f } }));
}

TEST_F (ProtocolWire, shortPresetAnswerDecodesOnlyTheBytesReceived)
{
    // 1024 bytes of real pairs, no end pair among them; had the reader used the whole 4096-byte
    // buffer, stale bytes after them could have been read as parameters.
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    for (uint32_t id = 0; id < 128; ++id)
        pairs.push_back ({ id + 1, floatBits (static_cast<float> (id)) });
    unit.setBlock (3, 1, pairBlock (pairs, 1024));

    KorvantalData::ParameterMap preset;
    ASSERT_TRUE (protocol.readPreset (1, preset).ok);
    expectBlockRead (unit.hostPackets(), 3, 1, 1024);
    EXPECT_EQ (preset.size(), 128u);
}

TEST_F (ProtocolWire, longerAnswerThanTheBlockKeepsOnlyTheBlock)
{
    Bytes name (100, 0);
    name[0] = 'A';
    name[4] = 'B';
    name[64] = 'X';
    unit.setBlock (9, 3, name);

    uint8_t block[64 + 8] = {};
    size_t received = 0;
    ASSERT_TRUE (protocol.readData (9, 3, block, 64, received).ok);
    EXPECT_EQ (received, 64u);
    EXPECT_EQ (block[0], 'A');
    EXPECT_EQ (block[64], 0) << "nothing lands past the block";

    std::string text;
    ASSERT_TRUE (protocol.readCabName (3, text).ok);
    EXPECT_EQ (text, "AB");
}

TEST_F (ProtocolWire, everyBlockReadsBackAsItWasWritten)
{
    KorvantalData::AmpNameAndID amp { 42, "Plexi Lead 100" };
    KorvantalData::AmpData data;
    data.parameters = { { 1, 0.5f }, { 200, -1.25f } };
    data.text1 = "V1 12AX7";
    data.text2 = "Out EL34";
    KorvantalData::FinishingFilter filter = KorvantalData::makeDefaultFinishingFilter();
    filter[17] = 0xDEADBEEF;
    KorvantalData::Impulse impulse = KorvantalData::makeUnitImpulse();
    impulse[1][5] = 0.25f;
    const KorvantalData::ParameterMap globals { { 4, 4.0f } };
    const KorvantalData::ParameterMap preset { { 0x30, 0.3f }, { 0x31, 0.31f } };

    ASSERT_TRUE (protocol.sendAmpNameAndID (4, amp).ok);
    ASSERT_TRUE (protocol.sendAmpData (4, data).ok);
    ASSERT_TRUE (protocol.sendFinishingFilter (4, filter).ok);
    ASSERT_TRUE (protocol.sendCabData (4, impulse).ok);
    ASSERT_TRUE (protocol.sendCabName (4, "Open 2x12").ok);
    ASSERT_TRUE (protocol.sendGlobals (globals).ok);
    ASSERT_TRUE (protocol.sendPreset (4, preset).ok);

    KorvantalData::AmpNameAndID ampBack;
    KorvantalData::AmpData dataBack;
    KorvantalData::FinishingFilter filterBack {};
    KorvantalData::Impulse impulseBack {};
    std::string cabBack;
    KorvantalData::ParameterMap globalsBack, presetBack;

    ASSERT_TRUE (protocol.readAmpNameAndID (4, ampBack).ok);
    ASSERT_TRUE (protocol.readAmpData (4, dataBack).ok);
    ASSERT_TRUE (protocol.readFinishingFilter (4, filterBack).ok);
    ASSERT_TRUE (protocol.readCabData (4, impulseBack).ok);
    ASSERT_TRUE (protocol.readCabName (4, cabBack).ok);
    ASSERT_TRUE (protocol.readGlobals (globalsBack).ok);
    ASSERT_TRUE (protocol.readPreset (4, presetBack).ok);

    EXPECT_EQ (ampBack.id, amp.id);
    EXPECT_EQ (ampBack.name, amp.name);
    EXPECT_EQ (dataBack.parameters, data.parameters);
    EXPECT_EQ (dataBack.text1, data.text1);
    EXPECT_EQ (dataBack.text2, data.text2);
    EXPECT_EQ (filterBack, filter);
    EXPECT_EQ (impulseBack, impulse);
    EXPECT_EQ (cabBack, "Open 2x12");
    EXPECT_EQ (globalsBack, globals);
    EXPECT_EQ (presetBack, preset);
}

TEST_F (ProtocolWire, setParameterSendsTenBytesAndWaitsForNothing)
{
    ASSERT_TRUE (protocol.setParameter (0x1234, 1.0f).ok);
    ASSERT_TRUE (unit.waitForHostPackets (1, kWait));
    EXPECT_EQ (unit.hostPackets(), (std::vector<Bytes> { { 0xC7, 0x08, 0x34, 0x12, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F } }));

    ASSERT_TRUE (unit.waitUntilIdle (kWait));
    EXPECT_EQ (unit.editBufferParameter (0x1234), 1.0f);
}

TEST_F (ProtocolWire, setParameterKeepsOnlyTheLow16BitsOfTheId)
{
    ASSERT_TRUE (protocol.setParameter (0x71234, -0.5f).ok);
    ASSERT_TRUE (unit.waitForHostPackets (1, kWait));
    EXPECT_EQ (unit.hostPackets().at (0), (Bytes { 0xC7, 0x08, 0x34, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0xBF }));
}

TEST_F (ProtocolWire, firmwareStartCarriesTheDspNumberAndTheStartKey)
{
    const Bytes image = makeLoaderImage ({ 4, 3, 0 }, 98);
    std::vector<double> progress;
    ASSERT_TRUE (protocol.updateFirmware (image, [&] (double p) { progress.push_back (p); }).ok);

    const auto packets = unit.hostPackets();
    ASSERT_EQ (packets.size(), 4u);
    EXPECT_EQ (packets[0], (Bytes { 0xB1, 0x05, 0x00, 0x58, 0xF3, 0x1A, 0x6D }));

    // 130 bytes: chunks of 62, 62 and 6, progress counted before each acknowledgement.
    const size_t sizes[] = { 62, 62, 6 };
    size_t at = 0;
    for (size_t i = 0; i < 3; ++i)
    {
        ASSERT_EQ (packets[i + 1].size(), sizes[i] + 2);
        EXPECT_EQ (packets[i + 1][0], 0xB2);
        EXPECT_EQ (packets[i + 1][1], sizes[i]);
        EXPECT_TRUE (std::equal (packets[i + 1].begin() + 2, packets[i + 1].end(), image.begin() + static_cast<long> (at)));
        at += sizes[i];
    }

    EXPECT_EQ (progress, (std::vector<double> { 62.0 / 130.0, 124.0 / 130.0, 1.0 }));
}

TEST_F (ProtocolWire, programChangeSendsTheNumberAndTheUnitReportsTheNewPosition)
{
    ASSERT_TRUE (protocol.setCurrentPreset (3).ok);
    EXPECT_EQ (unit.hostPackets(), (std::vector<Bytes> { { 0xC9, 0x01, 0x03 } }));
    EXPECT_EQ (unit.currentProgram(), 3);

    ASSERT_TRUE (connection->handler().waitForParameters (1, kWait));
    ASSERT_TRUE (connection->handler().waitForStatuses (1, kWait));
    const auto reports = connection->handler().parameters();
    EXPECT_EQ (reports[0].id, 0x1002);
    EXPECT_EQ (reports[0].value, 3.0f);
    const auto status = connection->handler().statuses().at (0);
    ASSERT_EQ (status.size(), 12u);
    EXPECT_EQ (status[11], 3);
}

TEST_F (ProtocolWire, programChangeSendsOnlyTheLowByteOfTheNumber)
{
    ASSERT_TRUE (protocol.setCurrentPreset (0x102).ok);
    EXPECT_EQ (unit.hostPackets(), (std::vector<Bytes> { { 0xC9, 0x01, 0x02 } }));
}

TEST_F (ProtocolWire, programRequestSendsCA00AndReadsTheAnswer)
{
    ASSERT_TRUE (protocol.setCurrentPreset (5).ok);
    unit.clearHostPackets();
    uint32_t program = 0;
    ASSERT_TRUE (protocol.getCurrentPreset (program).ok);
    EXPECT_EQ (unit.hostPackets(), (std::vector<Bytes> { { 0xCA, 0x00 } }));
    EXPECT_EQ (program, 5u);
}

TEST_F (ProtocolWire, programAnswerZeroStandsForTheFavouriteSwitchPreset)
{
    unit.injectFault ({ FaultKind::Replace, 0xCA, 1, {}, { 0xCC, 0x01, 0x00 } });
    uint32_t program = 9;
    ASSERT_TRUE (protocol.getCurrentPreset (program).ok);
    EXPECT_EQ (program, 0u);
}

TEST_F (ProtocolWire, statusRequestSendsCE00AndTheReportReachesTheHandler)
{
    unit.setStatus ({ 200, 2, 3, 1, 0 });
    ASSERT_TRUE (protocol.requestStatus().ok);
    ASSERT_TRUE (connection->handler().waitForStatuses (1, kWait));
    EXPECT_EQ (unit.hostPackets(), (std::vector<Bytes> { { 0xCE, 0x00 } }));
    EXPECT_EQ (connection->handler().statuses().at (0), (Bytes { 0, 0, 0, 0, 0, 0, 200, 0, 2, 3, 1, 0 }));
}

TEST_F (ProtocolWire, aKnobTurnedOnTheUnitReachesTheHandler)
{
    unit.turnKnob (0x0123, 0.625f);
    ASSERT_TRUE (connection->handler().waitForParameters (1, kWait));
    const auto reports = connection->handler().parameters();
    EXPECT_EQ (reports[0].id, 0x0123);
    EXPECT_EQ (reports[0].value, 0.625f);
}

TEST_F (ProtocolWire, longCabinetNameFormIsUsedInVariant2)
{
    connection.reset();
    SimHid::Bus::instance().reset();
    UnitConnection variant2 ({}, 2);
    const std::string name (40, 'n');
    ASSERT_TRUE (variant2.protocol().sendCabName (1, name).ok);
    expectBlockWrite (variant2.unit().hostPackets(), 9, 1, 16, 32, 0x00, 0x01);

    variant2.unit().clearHostPackets();
    std::string back;
    ASSERT_TRUE (variant2.protocol().readCabName (1, back).ok);
    expectBlockRead (variant2.unit().hostPackets(), 9, 1, 1024);
    EXPECT_EQ (back, name);
}

TEST_F (ProtocolWire, emptyFirmwareImageStillSendsOneEmptyChunkAndReportsAllSent)
{
    std::vector<double> progress;
    const Result result = protocol.updateFirmware ({}, [&] (double p) { progress.push_back (p); });
    EXPECT_EQ (result.message, "Got NACK during write transfer") << "the unit refuses an image without a header";
    const auto packets = unit.hostPackets();
    ASSERT_EQ (packets.size(), 2u);
    EXPECT_EQ (packets[1], (Bytes { 0xB2, 0x00 }));
    EXPECT_EQ (progress, (std::vector<double> { 1.0 }));
}
