// The simulated unit itself, driven through the real device stack: what it accepts and refuses,
// how it answers program changes and its own controls, and how it takes a firmware image.
#include "EmbeddedData.h"
#include "IOUtils.h"
#include "KorvantalDataFile.h"
#include "CleanBus.h"
#include "KorvantalProtocol.h"
#include "LoaderImage.h"
#include "TestSupport.h"
#include "UnitConnection.h"

#include <gtest/gtest.h>

using namespace Korvantal;
using namespace SimUnit;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

namespace
{
constexpr auto kWait = milliseconds (5000);

struct SimulatedUnitTest : TestSupport::CleanBus
{
    ~SimulatedUnitTest() override { connection.reset(); }

    std::unique_ptr<UnitConnection> connection = std::make_unique<UnitConnection>();
    SimulatedUnit& unit = connection->unit();
    KorvantalProtocol& protocol = connection->protocol();

    // Sends one raw packet and returns the answer's code (0 when none came).
    uint8_t exchange (const Bytes& packet)
    {
        uint8_t buffer[64] = {};
        KorvantalProtocol::MessageBuffer answer { buffer, sizeof (buffer) };
        bool answered = false;
        const Result result = protocol.doPacketTransactionWithTimeout (
            answer, { 0xC0, 0xC1 }, 5000, answered,
            [&] (int) { return connection->transport().sendPacket (packet.data(), packet.size()); });
        return result.ok && answered ? buffer[0] : 0;
    }

    // Writes a block by hand: start, chunks of up to 62 bytes, then the given end packet.
    uint8_t writeBlock (const Bytes& data, const Bytes& end)
    {
        if (exchange ({ 0xC2, 0x00 }) != 0xC0)
            return 0;

        for (size_t at = 0; at < data.size(); at += 62)
        {
            const size_t n = std::min<size_t> (62, data.size() - at);
            Bytes chunk (2 + n);
            chunk[0] = 0xC3;
            chunk[1] = static_cast<uint8_t> (n);
            std::copy_n (data.begin() + static_cast<long> (at), n, chunk.begin() + 2);

            if (exchange (chunk) != 0xC0)
                return 0xC1;
        }

        return exchange (end);
    }
};

Bytes ampNameBlock()
{
    Bytes block (68, 0);
    block[0] = 9;
    block[4] = 'Z';
    return block;
}

// The checksum of the block above, computed here apart from the product's code.
uint16_t ampNameBlockChecksum()
{
    uint16_t sum = 0;
    for (uint8_t b : ampNameBlock())
        sum = static_cast<uint16_t> ((sum >> 1 | (sum & 1) << 15) + b);
    return sum;
}

Bytes endPacket (uint8_t type, uint8_t index, uint16_t words, uint16_t sum)
{
    return { 0xC4, 0x07, type, index, 0x00, static_cast<uint8_t> (words & 0xFF), static_cast<uint8_t> (words >> 8),
             static_cast<uint8_t> (sum & 0xFF), static_cast<uint8_t> (sum >> 8) };
}
} // namespace

TEST_F (SimulatedUnitTest, acceptsABlockWriteWithTheRightWordCountAndChecksum)
{
    EXPECT_EQ (writeBlock (ampNameBlock(), endPacket (5, 4, 17, ampNameBlockChecksum())), 0xC0);
    EXPECT_EQ (unit.block (5, 4), ampNameBlock());
}

TEST_F (SimulatedUnitTest, refusesABlockWriteWhoseEndDisagreesWithItsData)
{
    const struct { const char* name; uint8_t type; uint16_t words, sum; } rows[] {
        { "wrong checksum",             5,  17, static_cast<uint16_t> (ampNameBlockChecksum() + 1) },
        { "wrong word count",           5,  16, ampNameBlockChecksum() },
        { "wrong size for a cabinet",   10, 17, ampNameBlockChecksum() },
    };

    for (const auto& row : rows)
    {
        const Bytes before = unit.block (row.type, 4);
        EXPECT_EQ (writeBlock (ampNameBlock(), endPacket (row.type, 4, row.words, row.sum)), 0xC1) << row.name;
        EXPECT_EQ (unit.block (row.type, 4), before) << row.name;
    }
}

TEST_F (SimulatedUnitTest, refusesAReadOfASlotItDoesNotHave)
{
    KorvantalData::AmpData data;
    EXPECT_EQ (protocol.readAmpData (8, data).message, "Got NACK waiting for TRANSFER_START");
}

TEST_F (SimulatedUnitTest, programChangeLoadsThePresetsBlocksIntoTheEditBuffer)
{
    // The last program, 7, has its blocks at index 7.
    ASSERT_TRUE (protocol.sendCabName (7, "Slot seven").ok);
    ASSERT_TRUE (protocol.setCurrentPreset (7).ok);

    std::string name;
    ASSERT_TRUE (protocol.readCabName (0, name).ok);
    EXPECT_EQ (name, "Slot seven");
    KorvantalData::ParameterMap preset;
    ASSERT_TRUE (protocol.readPreset (0, preset).ok);
    EXPECT_EQ (preset.at (0x10), 7.0f);
}

TEST_F (SimulatedUnitTest, footswitchLoadsAPresetAndReportsItUnprompted)
{
    unit.pressFootswitch (2);
    ASSERT_TRUE (connection->handler().waitForParameters (1, kWait));
    ASSERT_TRUE (connection->handler().waitForStatuses (1, kWait));
    EXPECT_EQ (connection->handler().parameters().at (0).id, 0x1002);
    EXPECT_EQ (connection->handler().parameters().at (0).value, 2.0f);
    EXPECT_EQ (connection->handler().statuses().at (0).at (11), 2);
    EXPECT_EQ (unit.currentProgram(), 2);
    EXPECT_TRUE (unit.hostPackets().empty()) << "nothing was asked";
}

TEST_F (SimulatedUnitTest, knobTurnedOnTheUnitChangesItsEditBuffer)
{
    unit.turnKnob (0x44, 0.75f);
    ASSERT_TRUE (connection->handler().waitForParameters (1, kWait));
    EXPECT_EQ (unit.editBufferParameter (0x44), 0.75f);
}

TEST_F (SimulatedUnitTest, reportDelaySpacesItsAnswers)
{
    unit.setReportDelay (std::chrono::microseconds (1000));
    const auto start = std::chrono::steady_clock::now();
    bool alive = false;

    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE (protocol.ping (alive).ok && alive);

    EXPECT_GE (std::chrono::steady_clock::now() - start, milliseconds (20));
}

// The image the program carries, read the way the editor reads a ".ldr" file.
Bytes carriedFirmwareImage()
{
    const auto file = TovarekMk2::EmbeddedData::getDspFirmwareImage();
    juce::MemoryInputStream source (file.data, file.size, false);
    InStreamWrapper stream (&source);
    Bytes image;
    EXPECT_TRUE (readBitReversedStream (stream, image).ok);
    return image;
}

// Each image restarts the unit, which comes back with the image's DSP version.
TEST_F (SimulatedUnitTest, takesAGoodFirmwareImageRestartsAndReportsItsVersion)
{
    unit.setRestartDelay (milliseconds (50));
    unit.setVersions ({ 4, 1, 0 }, { 4, 1, 9 });
    const struct { const char* name; Bytes image; std::array<uint8_t, 4> dsp; } rows[] {
        { "the carried image", carriedFirmwareImage(),               { 4, 2, 0, 0 } },
        { "a made image",      makeLoaderImage ({ 4, 3, 1 }, 128000), { 4, 3, 1, 0 } },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.name);
        ASSERT_EQ (row.image.size(), 128032u);
        unit.clearHostPackets();
        const size_t mark = connection->handler().stateCount();
        ASSERT_TRUE (connection->protocol().updateFirmware (row.image, {}).ok);
        EXPECT_EQ (unit.hostPackets().size(), 1 + (128032 + 61) / 62);

        // The unit drops off the bus, the host tears the connection down, the unit comes back.
        ASSERT_TRUE (connection->handler().waitForState (2, mark, kWait));
        connection->disconnect();
        ASSERT_TRUE (unit.waitForPlugged (true, kWait));
        ASSERT_TRUE (connection->connect());

        KorvantalData::FirmwareVersionInfo info;
        ASSERT_TRUE (connection->protocol().getFirmwareVersionInfo (info).ok);
        EXPECT_EQ (info.dspVersion, row.dsp);
    }
    EXPECT_EQ (unit.restartCount(), 2);
}

// Every chunk goes out; the unit checks the image at its last one and stays as it was.
TEST_F (SimulatedUnitTest, refusesABrokenImageAtItsLastChunk)
{
    const Bytes good = makeLoaderImage ({ 4, 3, 1 }, 1000);
    const struct { const char* name; Bytes image; } rows[] {
        { "a flipped bit in the carried image", [] { Bytes b = carriedFirmwareImage(); b[64000] ^= 0x80; return b; }() },
        { "a wrong CRC",                       [&] { Bytes b = good; b[500] ^= 0x01; return b; }() },
        { "no magic",                          [&] { Bytes b = good; b[0] = 'X'; return b; }() },
        { "shorter than its header says",      Bytes (good.begin(), good.end() - 10) },
    };

    for (const auto& row : rows)
    {
        protocol.clearError(); // the refusal before failed the connection
        unit.clearHostPackets();
        EXPECT_EQ (protocol.updateFirmware (row.image, {}).message, "Got NACK during write transfer") << row.name;
        EXPECT_EQ (unit.hostPackets().size(), 1 + (row.image.size() + 61) / 62) << row.name;
        EXPECT_TRUE (unit.isPlugged()) << row.name;
        EXPECT_EQ (unit.restartCount(), 0) << row.name;
        EXPECT_EQ (unit.dspVersion().minor, 2) << row.name;
    }
}

TEST (LoaderImage, crcMatchesTheKnownCheckValue)
{
    const std::string check = "123456789";
    EXPECT_EQ (crc32 (reinterpret_cast<const uint8_t*> (check.data()), check.size()), 0xCBF43926u);
}

TEST (LoaderImage, headerCarriesMagicVersionLengthAndCrc)
{
    const Bytes image = makeLoaderImage ({ 4, 2, 0 }, 100, 7);
    ASSERT_EQ (image.size(), 132u);
    EXPECT_EQ (Bytes (image.begin(), image.begin() + 12), (Bytes { 0x54, 0x56, 0x4B, 0x4C, 4, 2, 0, 0, 100, 0, 0, 0 }));
    EXPECT_EQ (Bytes (image.begin() + 16, image.begin() + 32), Bytes (16, 0));
    std::array<uint8_t, 3> version {};
    EXPECT_TRUE (checkLoaderImage (image, version));
    EXPECT_EQ (version, (std::array<uint8_t, 3> { 4, 2, 0 }));
}

TEST (PreloadedUnits, replaceTheRealHidapiAsTheEnvironmentSays)
{
    const std::string dir = TestSupport::makeTempDirectory ("PreloadedUnits");
    const std::string output = dir + "/probe.txt";
    // The sanitizer runtimes want to be loaded first; the preloaded library is loaded before them.
    const std::string command = std::string ("ASAN_OPTIONS=verify_asan_link_order=0 TOVAREK_SIM_UNITS=2 TOVAREK_SIM_DSP_VERSION=4.3.7 "
                                             "TOVAREK_SIM_SYSTEM_VERSION=4.0.9 LD_PRELOAD=")
                                + TOVAREK_SIM_PRELOAD_LIBRARY + " " + TOVAREK_SIM_PROBE + " > " + output;
    ASSERT_EQ (TestSupport::runCommand (command), 0);
    const Bytes text = TestSupport::readFileBytes (output);
    EXPECT_EQ (std::string (text.begin(), text.end()), "units 2\nsystem 4.0.9 dsp 4.3.7\n");
}
