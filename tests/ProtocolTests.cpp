// The protocol's operations against the simulated unit, through the real HID device, transport
// and protocol: the exact bytes the unit receives, and what the host makes of the answers.
#include "CleanBus.h"
#include "KorvantalProtocol.h"
#include "LoaderImage.h"
#include "UnitConnection.h"

#include <cstring>
#include <gtest/gtest.h>
#include <thread>

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

// A text field: one character in the low byte of each word.
void putText (Bytes& block, size_t offset, const std::string& text)
{
    for (size_t i = 0; i < text.size(); ++i)
        block[offset + 4 * i] = static_cast<uint8_t> (text[i]);
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
    // An unplugged unit ends the reader at once instead of at its next read time-out.
    ~ProtocolWire() override { unit.unplug(); }

    std::unique_ptr<UnitConnection> connection = std::make_unique<UnitConnection>();
    SimulatedUnit& unit = connection->unit();
    KorvantalProtocol& protocol = connection->protocol();
};

using ProtocolVariants = TestSupport::CleanBus;

// The data bytes of a block write's chunks, in order.
Bytes concatenatedChunks (const std::vector<Bytes>& packets)
{
    Bytes data;

    for (size_t i = 1; i + 1 < packets.size(); ++i)
        data.insert (data.end(), packets[i].begin() + 2, packets[i].end());

    return data;
}

// Checks a whole block write as the unit saw it: start, chunks of 62 bytes and a shorter last
// one, then the end packet with type, index, word count and checksum.
void expectBlockWrite (const std::vector<Bytes>& packets, uint8_t type, uint16_t index, size_t fullChunks, size_t lastChunk,
                       uint16_t words)
{
    ASSERT_EQ (packets.size(), fullChunks + (lastChunk > 0 ? 1 : 0) + 2);
    EXPECT_EQ (packets.front(), (Bytes { 0xC2, 0x00 }));

    for (size_t i = 1; i + 1 < packets.size(); ++i)
    {
        const size_t n = i <= fullChunks ? 62 : lastChunk;
        ASSERT_EQ (packets[i].size(), n + 2) << "chunk " << i;
        EXPECT_EQ (packets[i][0], 0xC3);
        EXPECT_EQ (packets[i][1], n);
    }

    const uint16_t sum = referenceChecksum (concatenatedChunks (packets));
    EXPECT_EQ (packets.back(), (Bytes { 0xC4, 0x07, type, static_cast<uint8_t> (index & 0xFF), static_cast<uint8_t> (index >> 8),
                                        static_cast<uint8_t> (words & 0xFF), static_cast<uint8_t> (words >> 8),
                                        static_cast<uint8_t> (sum & 0xFF), static_cast<uint8_t> (sum >> 8) }));
}

bool startsWith (const Bytes& packet, const Bytes& prefix)
{
    return packet.size() >= prefix.size() && std::equal (prefix.begin(), prefix.end(), packet.begin());
}

// A block read as the unit saw it: the request, then one "next" per chunk and one for the end.
void expectBlockRead (const std::vector<Bytes>& packets, uint8_t type, uint16_t index, size_t chunks)
{
    ASSERT_EQ (packets.size(), 1 + chunks + 1);
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

// Commands of one packet: a status request, whose report reaches the handler, ping, a parameter
// (the low 16 bits of its id and the float's bits) and a program change (the low byte of the number).
TEST_F (ProtocolWire, onePacketCommandsSendTheirPacketAndTakeEffect)
{
    bool alive = false;
    unit.setStatus ({ 200, 2, 3, 1, 0 });
    const auto& handler = connection->handler();
    const std::tuple<std::function<bool()>, Bytes> rows[] = {
        { [&] {
             return protocol.requestStatus().ok && handler.waitForStatuses (1, kWait)
                    && handler.statuses().at (0) == Bytes { 0, 0, 0, 0, 0, 0, 200, 0, 2, 3, 1, 0 };
         },
          { 0xCE, 0x00 } },
        { [&] { return protocol.ping (alive).ok && alive; }, { 0xB4, 0x00 } },
        { [&] { return protocol.setParameter (0x1234, 1.0f).ok; }, { 0xC7, 0x08, 0x34, 0x12, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F } },
        { [&] { return protocol.setParameter (0x71234, -0.5f).ok; }, { 0xC7, 0x08, 0x34, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0xBF } },
        { [&] { return protocol.setCurrentPreset (3).ok && unit.currentProgram() == 3; }, { 0xC9, 0x01, 0x03 } },
        { [&] { return protocol.setCurrentPreset (0x102).ok && unit.currentProgram() == 2; }, { 0xC9, 0x01, 0x02 } },
    };

    for (const auto& [run, packet] : rows)
    {
        unit.clearHostPackets();
        EXPECT_TRUE (run()) << int (packet[0]);
        EXPECT_EQ (unit.hostPackets(), (std::vector<Bytes> { packet }));
    }
}

TEST_F (ProtocolWire, versionRequestFillsBothVersionsAndTheExtraCode)
{
    const std::pair<std::optional<uint8_t>, int32_t> rows[] = { { std::nullopt, -1 }, { 0, 0 }, { 2, 2 }, { 3, -1 }, { 5, -1 } };

    for (const auto& [sent, extraCode] : rows)
    {
        unit.clearHostPackets();
        unit.setVersions ({ 4, 1, 2 }, { 1, 0, 3 }, sent);
        KorvantalData::FirmwareVersionInfo info;
        info.extraCode = 7;
        ASSERT_TRUE (protocol.getFirmwareVersionInfo (info).ok);
        EXPECT_EQ (unit.hostPackets(), (std::vector<Bytes> { { 0xB5, 0x00 } }));
        EXPECT_EQ (info.systemVersion, (std::array<uint8_t, 4> { 4, 1, 2, 0 }));
        EXPECT_EQ (info.dspVersion, (std::array<uint8_t, 4> { 1, 0, 3, 0 }));
        EXPECT_EQ (info.extraCode, extraCode) << "eighth payload byte " << (sent ? int (*sent) : -1);
    }
}

// Every block kind: written in chunks of 62 with its word count, stored as laid out, and read
// back with one "next" per chunk to the same value.
TEST_F (ProtocolWire, everyBlockGoesOutInChunksAsLaidOutAndReadsBack)
{
    KorvantalData::AmpData ampData;
    ampData.parameters = { { 7, 0.125f }, { 200, -1.25f } };
    ampData.text1 = "R1 68k";
    ampData.text2 = "C3 22n";
    KorvantalData::FinishingFilter filter {};
    for (size_t i = 0; i < filter.size(); ++i)
        filter[i] = static_cast<uint32_t> (i * 0x01010101u);
    KorvantalData::Impulse impulse {};
    for (size_t s = 0; s < 1024; ++s)
    {
        impulse[0][s] = static_cast<float> (s) / 1024.0f;
        impulse[1][s] = -static_cast<float> (s) / 2048.0f;
    }
    const KorvantalData::ParameterMap globals { { 3, 0.75f }, { 1, -2.0f } };
    const KorvantalData::ParameterMap preset { { 0x10, 1.5f } };

    Bytes ampBlock (68, 0);
    putWord (ampBlock, 0, 0x01020304);
    putText (ampBlock, 4, "Tweedish");
    Bytes cabNameBlock (64, 0);
    putText (cabNameBlock, 0, "Greenback 4x12 ");
    Bytes ampDataBlock = pairBlock ({ { 7, floatBits (0.125f) }, { 200, floatBits (-1.25f) } }, 2048);
    ampDataBlock.resize (4096, 0);
    putText (ampDataBlock, 2048, "R1 68k");
    putText (ampDataBlock, 3072, "C3 22n");
    Bytes filterBlock (4096);
    for (size_t i = 0; i < filter.size(); ++i)
        putWord (filterBlock, 4 * i, static_cast<uint32_t> (i * 0x01010101u));
    Bytes impulseBlock (8192);
    for (size_t s = 0; s < 1024; ++s)
    {
        putWord (impulseBlock, 4 * s, floatBits (static_cast<float> (s) / 1024.0f));
        putWord (impulseBlock, 4096 + 4 * s, floatBits (-static_cast<float> (s) / 2048.0f));
    }

    struct Row
    {
        const char* name;
        uint8_t type;
        uint16_t index;
        std::function<Result()> send;
        size_t fullChunks, lastChunk; // of the write
        uint16_t words;
        Bytes sent;                   // the block's bytes on the wire
        std::function<bool()> readsBack;
        size_t readChunks;
    };
    const std::vector<Row> rows {
        { "amp name and id", 5, 5, [&] { return protocol.sendAmpNameAndID (5, { 0x01020304, "Tweedish" }); }, 1, 6, 17, ampBlock,
          [&] { KorvantalData::AmpNameAndID a; return protocol.readAmpNameAndID (5, a).ok && a.id == 0x01020304 && a.name == "Tweedish"; }, 2 },
        { "cabinet name, cut to 15", 9, 6, [&] { return protocol.sendCabName (6, "Greenback 4x12 closed"); }, 1, 2, 16, cabNameBlock,
          [&] { std::string n; return protocol.readCabName (6, n).ok && n == "Greenback 4x12 "; }, 2 },
        { "globals", 1, 0, [&] { return protocol.sendGlobals (globals); }, 16, 32, 256,
          pairBlock ({ { 1, floatBits (-2.0f) }, { 3, floatBits (0.75f) } }, 1024),
          [&] { KorvantalData::ParameterMap g; return protocol.readGlobals (g).ok && g == globals; }, 17 },
        { "preset, short form out, long form in", 3, 2, [&] { return protocol.sendPreset (2, preset); }, 16, 32, 256,
          pairBlock ({ { 0x10, floatBits (1.5f) } }, 1024),
          [&] { KorvantalData::ParameterMap p { { 99, 9.0f } }; return protocol.readPreset (2, p).ok && p == preset; }, 67 },
        { "amp data", 6, 4, [&] { return protocol.sendAmpData (4, ampData); }, 66, 4, 1024, ampDataBlock,
          [&] {
              KorvantalData::AmpData d;
              return protocol.readAmpData (4, d).ok && d.parameters == ampData.parameters && d.text1 == ampData.text1 && d.text2 == ampData.text2;
          },
          67 },
        { "finishing filter", 8, 0, [&] { return protocol.sendFinishingFilter (0, filter); }, 66, 4, 1024, filterBlock,
          [&] { KorvantalData::FinishingFilter f {}; return protocol.readFinishingFilter (0, f).ok && f == filter; }, 67 },
        { "cabinet data", 10, 6, [&] { return protocol.sendCabData (6, impulse); }, 132, 8, 2048, impulseBlock,
          [&] { KorvantalData::Impulse i {}; return protocol.readCabData (6, i).ok && i == impulse; }, 133 },
    };

    for (const Row& row : rows)
    {
        SCOPED_TRACE (row.name);
        unit.clearHostPackets();
        ASSERT_TRUE (row.send().ok);
        const auto packets = unit.hostPackets();
        expectBlockWrite (packets, row.type, row.index, row.fullChunks, row.lastChunk, row.words);
        EXPECT_EQ (concatenatedChunks (packets), row.sent);

        unit.clearHostPackets();
        EXPECT_TRUE (row.readsBack());
        expectBlockRead (unit.hostPackets(), row.type, row.index, row.readChunks);
    }
}

// The preset goes out in 1024 bytes in variants 1 and 3 and in 4096 in every other; the cabinet
// name takes its long 1024-byte form only in variant 2.
TEST_F (ProtocolVariants, blockSizesFollowTheProtocolVariant)
{
    const std::string name (40, 'n');
    Bytes longNameBlock (1024, 0);
    putText (longNameBlock, 0, name);
    const std::tuple<uint32_t, uint16_t, uint16_t> rows[] = { { 0, 1024, 16 }, { 1, 256, 16 }, { 2, 1024, 256 },
                                                              { 3, 256, 16 },  { 4, 1024, 16 }, { 7, 1024, 16 } };

    for (const auto& [protocolVariant, presetWords, cabNameWords] : rows)
    {
        SCOPED_TRACE ("variant " + std::to_string (protocolVariant));
        UnitConnection variant ({}, protocolVariant);
        SimulatedUnit& unit = variant.unit();
        ASSERT_TRUE (variant.protocol().sendPreset (1, { { 0x10, 2.0f } }).ok);
        EXPECT_EQ (concatenatedChunks (unit.hostPackets()).size(), 4u * presetWords);
        EXPECT_EQ (unit.hostPackets().back().at (5) | (unit.hostPackets().back().at (6) << 8), presetWords);

        unit.clearHostPackets();
        ASSERT_TRUE (variant.protocol().sendCabName (1, name).ok);
        EXPECT_EQ (concatenatedChunks (unit.hostPackets()).size(), 4u * cabNameWords);

        // A read asks for no size: only the characters decoded from a long block tell.
        unit.setBlock (9, 2, longNameBlock);
        std::string back;
        ASSERT_TRUE (variant.protocol().readCabName (2, back).ok);
        EXPECT_EQ (back, name.substr (0, protocolVariant == 2 ? 40 : 15));
        unit.unplug();
    }
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
    expectBlockRead (unit.hostPackets(), 3, 1, 17);
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

// The program is payload byte 0 of the answer buffer, which starts zeroed: an answer without its
// byte yields 0, not the filler of the report, and is no error.
TEST_F (ProtocolWire, programRequestSendsCA00AndTakesPayloadByteZero)
{
    ASSERT_TRUE (protocol.setCurrentPreset (5).ok);
    const std::pair<Bytes, uint32_t> rows[] = {
        { {}, 5 },                   // the unit's own answer
        { { 0xCC, 0x01, 0x00 }, 0 }, // the favourite-switch preset
        { { 0xCC, 0x00, 0x05 }, 0 }, // no payload; the 05 is filler
    };

    for (const auto& [answer, expected] : rows)
    {
        if (! answer.empty())
            unit.injectFault ({ FaultKind::Replace, 0xCA, 1, {}, answer });
        unit.clearHostPackets();
        uint32_t program = 9;
        ASSERT_TRUE (protocol.getCurrentPreset (program).ok);
        EXPECT_EQ (unit.hostPackets(), (std::vector<Bytes> { { 0xCA, 0x00 } }));
        EXPECT_EQ (program, expected);
        EXPECT_EQ (protocol.getState(), KorvantalProtocol::kConnected);
    }
}

// One thread holds the operation lock in a block read whose start answer the unit delays; an
// operation started on another thread meanwhile either waits for the lock, so its first packet
// reaches the unit after the whole read (C5 and three C0), or goes out at once, right after the C5.
TEST_F (ProtocolWire, everyOperationButTheStatusRequestWaitsForTheOperationLock)
{
    using Op = std::function<void (KorvantalProtocol&)>;
    KorvantalData::ParameterMap map;
    KorvantalData::AmpNameAndID amp;
    KorvantalData::AmpData data;
    KorvantalData::FinishingFilter filter {};
    KorvantalData::Impulse impulse {};
    std::string name;
    uint32_t program = 0;
    bool alive = false;
    KorvantalData::FirmwareVersionInfo info;
    const Bytes writeStart { 0xC2, 0x00 };

    struct Row
    {
        const char* name;
        Op run;
        Bytes firstPacket; // its leading bytes
        bool waits;
    };
    const std::vector<Row> rows {
        { "ping", [&] (KorvantalProtocol& p) { p.ping (alive); }, { 0xB4, 0x00 }, true },
        { "version", [&] (KorvantalProtocol& p) { p.getFirmwareVersionInfo (info); }, { 0xB5, 0x00 }, true },
        { "readPreset", [&] (KorvantalProtocol& p) { p.readPreset (1, map); }, { 0xC5, 0x05, 3 }, true },
        { "sendPreset", [&] (KorvantalProtocol& p) { p.sendPreset (1, {}); }, writeStart, true },
        { "readGlobals", [&] (KorvantalProtocol& p) { p.readGlobals (map); }, { 0xC5, 0x05, 1 }, true },
        { "sendGlobals", [&] (KorvantalProtocol& p) { p.sendGlobals ({}); }, writeStart, true },
        { "readAmpNameAndID", [&] (KorvantalProtocol& p) { p.readAmpNameAndID (4, amp); }, { 0xC5, 0x05, 5 }, true },
        { "sendAmpNameAndID", [&] (KorvantalProtocol& p) { p.sendAmpNameAndID (4, amp); }, writeStart, true },
        { "readAmpData", [&] (KorvantalProtocol& p) { p.readAmpData (4, data); }, { 0xC5, 0x05, 6 }, true },
        { "sendAmpData", [&] (KorvantalProtocol& p) { p.sendAmpData (4, data); }, writeStart, true },
        { "readFinishingFilter", [&] (KorvantalProtocol& p) { p.readFinishingFilter (4, filter); }, { 0xC5, 0x05, 8 }, true },
        { "sendFinishingFilter", [&] (KorvantalProtocol& p) { p.sendFinishingFilter (4, filter); }, writeStart, true },
        { "readCabName", [&] (KorvantalProtocol& p) { p.readCabName (4, name); }, { 0xC5, 0x05, 9 }, true },
        { "sendCabName", [&] (KorvantalProtocol& p) { p.sendCabName (4, "n"); }, writeStart, true },
        { "readCabData", [&] (KorvantalProtocol& p) { p.readCabData (4, impulse); }, { 0xC5, 0x05, 10 }, true },
        { "sendCabData", [&] (KorvantalProtocol& p) { p.sendCabData (4, impulse); }, writeStart, true },
        { "setCurrentPreset", [&] (KorvantalProtocol& p) { p.setCurrentPreset (2); }, { 0xC9, 0x01, 0x02 }, true },
        { "getCurrentPreset", [&] (KorvantalProtocol& p) { p.getCurrentPreset (program); }, { 0xCA, 0x00 }, true },
        { "setParameter", [&] (KorvantalProtocol& p) { p.setParameter (1, 0.5f); }, { 0xC7, 0x08, 0x01, 0x00 }, true },
        { "updateFirmware", [&] (KorvantalProtocol& p) { p.updateFirmware ({ 1, 2, 3 }, {}); }, { 0xB1, 0x05 }, true },
        { "requestStatus", [&] (KorvantalProtocol& p) { p.requestStatus(); }, { 0xCE, 0x00 }, false },
    };

    for (const Row& row : rows)
    {
        SCOPED_TRACE (row.name);
        protocol.clearError(); // some rows end refused
        ASSERT_TRUE (unit.waitUntilIdle (kWait));
        unit.clearHostPackets();
        // Long enough for the other thread to send first if it did not wait; a waiting row pays it.
        unit.injectFault ({ FaultKind::Delay, 0xC5, 1, std::chrono::milliseconds (row.waits ? 200 : 2000) });
        KorvantalData::AmpNameAndID held;
        std::thread holder ([&] { EXPECT_TRUE (protocol.readAmpNameAndID (5, held).ok); });
        const bool holding = unit.waitForHostPackets (1, kWait); // the holder sent its C5 under the lock
        std::thread other ([&] { row.run (protocol); });
        other.join();
        holder.join();

        ASSERT_TRUE (holding);
        const auto packets = unit.hostPackets();
        const size_t at = row.waits ? 4 : 1;
        ASSERT_GT (packets.size(), at);
        EXPECT_TRUE (startsWith (packets[at], row.firstPacket)) << "packet " << at << " starts " << std::hex << int (packets[at][0]);
    }
}
