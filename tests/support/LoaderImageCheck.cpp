#include "LoaderImageCheck.h"

namespace TestSupport
{

namespace
{

constexpr uint8_t kMagic[4] = { 'T', 'V', 'K', 'L' };
constexpr size_t kVersionOffset = 4;
constexpr size_t kLengthOffset = 8;
constexpr size_t kCrcOffset = 12;
constexpr size_t kReservedOffset = 16;

uint32_t littleEndian32 (const uint8_t* at)
{
    return static_cast<uint32_t> (at[0]) | static_cast<uint32_t> (at[1]) << 8
         | static_cast<uint32_t> (at[2]) << 16 | static_cast<uint32_t> (at[3]) << 24;
}

bool fail (std::string* problem, const char* text)
{
    if (problem != nullptr)
        *problem = text;
    return false;
}

} // namespace

uint32_t loaderImageCrc32 (const uint8_t* data, size_t size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
    {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

bool validateLoaderImage (const uint8_t* data, size_t size, LoaderImageInfo* info, std::string* problem)
{
    if (data == nullptr || size < kLoaderImageHeaderSize)
        return fail (problem, "image shorter than its header");
    for (size_t i = 0; i < sizeof (kMagic); ++i)
        if (data[i] != kMagic[i])
            return fail (problem, "bad magic");
    if (data[kVersionOffset + 3] != 0)
        return fail (problem, "nonzero fourth version byte");
    for (size_t i = kReservedOffset; i < kLoaderImageHeaderSize; ++i)
        if (data[i] != 0)
            return fail (problem, "nonzero reserved header byte");

    const uint32_t length = littleEndian32 (data + kLengthOffset);
    if (length != size - kLoaderImageHeaderSize)
        return fail (problem, "payload length does not match the image size");
    const uint32_t crc = littleEndian32 (data + kCrcOffset);
    if (crc != loaderImageCrc32 (data + kLoaderImageHeaderSize, length))
        return fail (problem, "payload CRC mismatch");

    if (info != nullptr)
        *info = { data[kVersionOffset], data[kVersionOffset + 1], data[kVersionOffset + 2], length, crc };
    return true;
}

} // namespace TestSupport
