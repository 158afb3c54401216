#include "EmbeddedData.h"
#include "IOUtils.h"
#include "KorvantalDataFile.h"
#include "LoaderImage.h"
#include "LoaderImageGenerator.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
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

TEST (FirmwareImage, isCarriedWith128032Bytes)
{
    EXPECT_EQ (getDspFirmwareImage().size, 128032u);
    EXPECT_EQ (TovarekMk2::EmbeddedData::kDspFirmwareImageSize, 128032u);
    ASSERT_NE (getDspFirmwareImage().data, nullptr);
}

TEST (FirmwareImage, isStoredBitReversedLikeALoaderFile)
{
    // "TVKL" = 54 56 4B 4C; reversed bit order: 2A 6A D2 32.
    const auto file = getDspFirmwareImage();
    const uint8_t expected[4] = { 0x2A, 0x6A, 0xD2, 0x32 };
    EXPECT_EQ (std::memcmp (file.data, expected, sizeof (expected)), 0);
}

TEST (FirmwareImage, onceBitReversedCarriesDsp420WithAValidPayload)
{
    const std::vector<uint8_t> image = carriedImage();
    SimUnit::LoaderImageInfo info;
    std::string problem;
    ASSERT_TRUE (SimUnit::validateLoaderImage (image.data(), image.size(), &info, &problem)) << problem;

    EXPECT_EQ (std::string (image.begin(), image.begin() + 4), "TVKL");
    EXPECT_EQ (info.dspMajor, 4);
    EXPECT_EQ (info.dspMinor, 2);
    EXPECT_EQ (info.dspPatch, 0);
    EXPECT_EQ (image[7], 0);
    EXPECT_EQ (info.payloadLength, 128000u);
    const uint8_t lengthBytes[4] = { 0x00, 0xF4, 0x01, 0x00 }; // 128000 little-endian
    EXPECT_EQ (std::memcmp (&image[8], lengthBytes, 4), 0);
    for (size_t i = 16; i < 32; ++i)
        EXPECT_EQ (image[i], 0) << "header byte " << i;
}

TEST (FirmwareImage, crcAgreesWithPythonsZlib)
{
    const std::string dir = TestSupport::makeTempDirectory ("FirmwareImageZlib");
    const std::string path = dir + "/image.bin";
    TestSupport::writeFileBytes (path, carriedImage());

    const std::string script =
        "import sys, struct, zlib\n"
        "data = open(sys.argv[1], 'rb').read()\n"
        "length, crc = struct.unpack_from('<II', data, 8)\n"
        "ok = data[:4] == b'TVKL' and data[4:8] == bytes([4, 2, 0, 0]) and length == len(data) - 32 "
        "and crc == zlib.crc32(data[32:]) & 0xffffffff\n"
        "sys.exit(0 if ok else 1)\n";
    TestSupport::writeFileBytes (dir + "/check.py", std::vector<uint8_t> (script.begin(), script.end()));
    EXPECT_EQ (TestSupport::runCommand ("python3 '" + dir + "/check.py' '" + path + "'"), 0);
}

TEST (FirmwareImage, bothCrcImplementationsGiveTheStandardCheckValue)
{
    const char* check = "123456789";
    const auto* bytes = reinterpret_cast<const uint8_t*> (check);
    EXPECT_EQ (SimUnit::crc32 (bytes, 9), 0xCBF43926u);
    EXPECT_EQ (TovarekTools::crc32 (bytes, 9), 0xCBF43926u);
    EXPECT_EQ (SimUnit::crc32 (bytes, 0), 0u);
}

TEST (FirmwareImage, aCorruptedPayloadFailsTheCheck)
{
    std::vector<uint8_t> image = carriedImage();
    ASSERT_TRUE (isValid (image));
    image[32 + 64000] ^= 0x01;
    std::string problem;
    EXPECT_FALSE (isValid (image, &problem));
    EXPECT_EQ (problem, "payload CRC mismatch");

    image = carriedImage();
    image.back() ^= 0x80;
    EXPECT_FALSE (isValid (image));
}

TEST (FirmwareImage, aCorruptedHeaderFailsTheCheck)
{
    std::string problem;

    std::vector<uint8_t> badMagic = carriedImage();
    badMagic[3] = 'X';
    EXPECT_FALSE (isValid (badMagic, &problem));
    EXPECT_EQ (problem, "bad magic");

    std::vector<uint8_t> badCrc = carriedImage();
    badCrc[12] ^= 0xFF;
    EXPECT_FALSE (isValid (badCrc, &problem));
    EXPECT_EQ (problem, "payload CRC mismatch");

    std::vector<uint8_t> badLength = carriedImage();
    badLength[8] = 0x01;
    EXPECT_FALSE (isValid (badLength, &problem));
    EXPECT_EQ (problem, "payload length does not match the image size");
}

TEST (FirmwareImage, aTruncatedOrUnreversedImageFailsTheCheck)
{
    std::vector<uint8_t> image = carriedImage();
    image.pop_back();
    EXPECT_FALSE (isValid (image));

    image.resize (31);
    EXPECT_FALSE (isValid (image));
    EXPECT_FALSE (SimUnit::validateLoaderImage (nullptr, 0));

    // The file form itself is not what the unit accepts.
    EXPECT_FALSE (isValid (carriedFileBytes()));
}

TEST (FirmwareImage, isWhatTheGeneratorMakesOnEveryRun)
{
    const std::vector<uint8_t> first = TovarekTools::makeLoaderImage();
    EXPECT_EQ (first, TovarekTools::makeLoaderImage());
    EXPECT_EQ (TovarekTools::toLoaderFileForm (first), carriedFileBytes());
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
    EXPECT_EQ (image, TovarekTools::makeLoaderImage());
    EXPECT_TRUE (isValid (image));
}
