#include "LoaderImage.h"

#include <algorithm>

namespace SimUnit
{

namespace
{
uint32_t readLE32 (const uint8_t* at)
{
    return static_cast<uint32_t> (at[0]) | (static_cast<uint32_t> (at[1]) << 8)
         | (static_cast<uint32_t> (at[2]) << 16) | (static_cast<uint32_t> (at[3]) << 24);
}

void writeLE32 (uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t> (value >> (8 * i));
}

bool fail (std::string* problem, const char* text)
{
    if (problem != nullptr)
        *problem = text;
    return false;
}

constexpr size_t kLoaderReservedOffset = 16;

bool hasMagic (const std::vector<uint8_t>& image)
{
    return image.size() >= kLoaderHeaderSize && std::equal (kLoaderMagic.begin(), kLoaderMagic.end(), image.begin());
}
} // namespace

uint32_t crc32 (const uint8_t* data, size_t size)
{
    uint32_t crc = 0xFFFFFFFF;

    for (size_t i = 0; i < size; ++i)
    {
        crc ^= data[i];

        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }

    return crc ^ 0xFFFFFFFF;
}

std::vector<uint8_t> makeLoaderImage (std::array<uint8_t, 3> dspVersion, size_t payloadSize, uint32_t seed)
{
    std::vector<uint8_t> image (kLoaderHeaderSize + payloadSize, 0);
    std::copy (kLoaderMagic.begin(), kLoaderMagic.end(), image.begin());
    std::copy (dspVersion.begin(), dspVersion.end(), image.begin() + kLoaderVersionOffset);

    uint32_t state = seed;

    for (size_t i = kLoaderHeaderSize; i < image.size(); ++i)
    {
        state = state * 1664525u + 1013904223u;
        image[i] = static_cast<uint8_t> (state >> 24);
    }

    writeLE32 (image.data() + kLoaderLengthOffset, static_cast<uint32_t> (payloadSize));
    writeLE32 (image.data() + kLoaderCrcOffset, crc32 (image.data() + kLoaderHeaderSize, payloadSize));
    return image;
}

bool declaredLoaderSize (const std::vector<uint8_t>& imageStart, size_t& totalSize)
{
    if (! hasMagic (imageStart))
        return false;

    totalSize = kLoaderHeaderSize + readLE32 (imageStart.data() + kLoaderLengthOffset);
    return true;
}

bool validateLoaderImage (const uint8_t* data, size_t size, LoaderImageInfo* info, std::string* problem)
{
    if (data == nullptr || size < kLoaderHeaderSize)
        return fail (problem, "image shorter than its header");
    if (! std::equal (kLoaderMagic.begin(), kLoaderMagic.end(), data))
        return fail (problem, "bad magic");
    if (data[kLoaderVersionOffset + 3] != 0)
        return fail (problem, "nonzero fourth version byte");
    if (std::any_of (data + kLoaderReservedOffset, data + kLoaderHeaderSize, [] (uint8_t b) { return b != 0; }))
        return fail (problem, "nonzero reserved header byte");

    const uint32_t length = readLE32 (data + kLoaderLengthOffset);
    if (length != size - kLoaderHeaderSize)
        return fail (problem, "payload length does not match the image size");
    const uint32_t crc = readLE32 (data + kLoaderCrcOffset);
    if (crc != crc32 (data + kLoaderHeaderSize, length))
        return fail (problem, "payload CRC mismatch");

    if (info != nullptr)
        *info = { data[kLoaderVersionOffset], data[kLoaderVersionOffset + 1], data[kLoaderVersionOffset + 2], length, crc };
    return true;
}

bool checkLoaderImage (const std::vector<uint8_t>& image, std::array<uint8_t, 3>& dspVersion)
{
    LoaderImageInfo info;

    if (! validateLoaderImage (image.data(), image.size(), &info))
        return false;

    dspVersion = { info.dspMajor, info.dspMinor, info.dspPatch };
    return true;
}

} // namespace SimUnit
