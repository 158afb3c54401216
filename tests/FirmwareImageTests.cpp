#include "EmbeddedData.h"
#include "IOUtils.h"
#include "KorvantalDataFile.h"
#include "LoaderImage.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using TovarekMk2::EmbeddedData::getDspFirmwareImage;

namespace
{

uint8_t reverseBits (uint8_t byte)
{
    byte = static_cast<uint8_t> ((byte & 0xF0) >> 4 | (byte & 0x0F) << 4);
    byte = static_cast<uint8_t> ((byte & 0xCC) >> 2 | (byte & 0x33) << 2);
    return static_cast<uint8_t> ((byte & 0xAA) >> 1 | (byte & 0x55) << 1);
}

std::vector<uint8_t> carriedFileBytes()
{
    const auto file = getDspFirmwareImage();
    return std::vector<uint8_t> (file.data, file.data + file.size);
}

// The carried image as the unit receives it.
std::vector<uint8_t> carriedImage()
{
    std::vector<uint8_t> image = carriedFileBytes();
    for (auto& byte : image)
        byte = reverseBits (byte);
    return image;
}

bool isValid (const std::vector<uint8_t>& image, std::string* problem = nullptr)
{
    return SimUnit::validateLoaderImage (image.data(), image.size(), nullptr, problem);
}

} // namespace

TEST (FirmwareImage, isStoredBitReversedLikeALoaderFile)
{
    // "TVKL" = 54 56 4B 4C; reversed bit order: 2A 6A D2 32.
    const auto file = getDspFirmwareImage();
    const uint8_t expected[4] = { 0x2A, 0x6A, 0xD2, 0x32 };
    EXPECT_EQ (std::memcmp (file.data, expected, sizeof (expected)), 0);
}

TEST (FirmwareImage, onceBitReversedCarriesDsp420WithAPayloadPythonsZlibAccepts)
{
    const std::string dir = TestSupport::makeTempDirectory ("FirmwareImageZlib");
    const std::string path = dir + "/image.bin";
    TestSupport::writeFileBytes (path, carriedImage());

    const std::string script =
        "import sys, struct, zlib\n"
        "data = open(sys.argv[1], 'rb').read()\n"
        "length, crc = struct.unpack_from('<II', data, 8)\n"
        "ok = data[:4] == b'TVKL' and data[4:8] == bytes([4, 2, 0, 0]) and length == len(data) - 32 "
        "and crc == zlib.crc32(data[32:]) & 0xffffffff and data[16:32] == bytes(16)\n"
        "sys.exit(0 if ok else 1)\n";
    TestSupport::writeFileBytes (dir + "/check.py", std::vector<uint8_t> (script.begin(), script.end()));
    EXPECT_EQ (TestSupport::runCommand ("python3 '" + dir + "/check.py' '" + path + "'"), 0);
}

TEST (FirmwareImage, theSimulatedUnitRefusesACorruptedImage)
{
    ASSERT_TRUE (isValid (carriedImage()));
    const struct { const char* what; std::function<void (std::vector<uint8_t>&)> corrupt; const char* problem; } rows[] = {
        { "a payload bit", [] (auto& image) { image[32 + 64000] ^= 0x01; }, "payload CRC mismatch" },
        { "the last byte", [] (auto& image) { image.back() ^= 0x80; }, "payload CRC mismatch" },
        { "the magic", [] (auto& image) { image[3] = 'X'; }, "bad magic" },
        { "the CRC", [] (auto& image) { image[12] ^= 0xFF; }, "payload CRC mismatch" },
        { "the length", [] (auto& image) { image[8] = 0x01; }, "payload length does not match the image size" },
        { "one byte short", [] (auto& image) { image.pop_back(); }, nullptr },
        { "a short header", [] (auto& image) { image.resize (31); }, nullptr },
        { "not bit-reversed", [] (auto& image) { image = carriedFileBytes(); }, nullptr },
    };
    for (const auto& row : rows)
    {
        std::vector<uint8_t> image = carriedImage();
        row.corrupt (image);
        std::string problem;
        EXPECT_FALSE (isValid (image, &problem)) << row.what;
        if (row.problem != nullptr)
        {
            EXPECT_EQ (problem, row.problem) << row.what;
        }
    }
    EXPECT_FALSE (SimUnit::validateLoaderImage (nullptr, 0));
}

TEST (FirmwareImage, readsThroughTheFirmwareFileReaderIntoAnImageTheUnitAccepts)
{
    // As the firmware update loads it: a non-copying memory stream over the carried bytes.
    const auto file = getDspFirmwareImage();
    juce::MemoryInputStream memory (file.data, file.size, false);
    InStreamWrapper stream (&memory);
    std::vector<uint8_t> image;
    ASSERT_TRUE (Korvantal::readBitReversedStream (stream, image).ok);

    EXPECT_EQ (image, carriedImage());
    EXPECT_TRUE (isValid (image));
}
