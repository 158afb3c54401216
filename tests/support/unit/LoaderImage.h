#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The DSP firmware image as the unit receives it: a 32-byte header ("TVKL", DSP major, minor,
// patch, 0, payload length, CRC-32 of the payload, 16 zero bytes) followed by the payload.
// Test-side code, written apart from the product's generator so each checks the other.
namespace SimUnit
{

constexpr size_t kLoaderHeaderSize = 32;
constexpr std::array<uint8_t, 4> kLoaderMagic { 0x54, 0x56, 0x4B, 0x4C };
constexpr size_t kLoaderVersionOffset = 4;
constexpr size_t kLoaderLengthOffset = 8;
constexpr size_t kLoaderCrcOffset = 12;

// CRC-32 as zlib computes it (reflected 0xEDB88320, init and final xor 0xFFFFFFFF).
uint32_t crc32 (const uint8_t* data, size_t size);

// An image with the given version and a payload of pseudo-random bytes from the seed.
std::vector<uint8_t> makeLoaderImage (std::array<uint8_t, 3> dspVersion, size_t payloadSize, uint32_t seed = 1);

struct LoaderImageInfo
{
    uint8_t dspMajor = 0, dspMinor = 0, dspPatch = 0;
    uint32_t payloadLength = 0;
    uint32_t payloadCrc = 0;
};

// The whole header check: magic, zero fourth version byte, zero reserved bytes, declared length
// equal to the payload, CRC of the payload. On success `info` (when given) holds the header;
// otherwise `problem` (when given) says what is wrong.
bool validateLoaderImage (const uint8_t* data, size_t size, LoaderImageInfo* info = nullptr,
                          std::string* problem = nullptr);

// True when the image passes validateLoaderImage; then `dspVersion` is the version it installs.
bool checkLoaderImage (const std::vector<uint8_t>& image, std::array<uint8_t, 3>& dspVersion);

// The payload length the header declares, once at least the header is there and its magic holds.
bool declaredLoaderSize (const std::vector<uint8_t>& imageStart, size_t& totalSize);

} // namespace SimUnit
