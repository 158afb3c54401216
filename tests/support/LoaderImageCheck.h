#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Checks a DSP loader image as the unit receives it (after the ".ldr" file's bit reversal):
// the magic "TVKL", the DSP version in bytes 4 to 6 with byte 7 zero, the little-endian payload
// length in bytes 8 to 11 equal to the size minus the 32-byte header, and the CRC-32
// (IEEE 802.3, as zlib's) of the payload in bytes 12 to 15. Standard library only, so the
// simulated unit can check what it received.
namespace TestSupport
{

struct LoaderImageInfo
{
    uint8_t dspMajor = 0, dspMinor = 0, dspPatch = 0;
    uint32_t payloadLength = 0;
    uint32_t payloadCrc = 0;
};

constexpr size_t kLoaderImageHeaderSize = 32;

// CRC-32 as zlib computes it, bit by bit.
uint32_t loaderImageCrc32 (const uint8_t* data, size_t size);

// True when the image is valid; then info (when given) holds its header. Otherwise problem
// (when given) says what is wrong.
bool validateLoaderImage (const uint8_t* data, size_t size, LoaderImageInfo* info = nullptr,
                          std::string* problem = nullptr);

} // namespace TestSupport
