#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Builds the DSP loader image the editor carries. As the unit receives it: the magic "TVKL",
// the DSP version (major, minor, patch, 0), the payload length and the payload's CRC-32
// (both little-endian), 16 zero bytes, then the payload.
namespace TovarekTools
{

constexpr uint8_t kLoaderMagic[4] = { 'T', 'V', 'K', 'L' };
constexpr size_t kLoaderHeaderSize = 32;
constexpr size_t kLoaderPayloadSize = 128000;
constexpr uint8_t kLoaderDspVersion[3] = { 4, 2, 0 };

// CRC-32 of IEEE 802.3 (as zlib's crc32): reflected polynomial 0xEDB88320, init and xorout 0xFFFFFFFF.
uint32_t crc32 (const uint8_t* data, size_t size);

// The image as the unit receives it (kLoaderHeaderSize + kLoaderPayloadSize bytes).
std::vector<uint8_t> makeLoaderImage();

// The ".ldr" file form: every byte's bit order reversed (bit 7 with bit 0, 6 with 1, ...).
std::vector<uint8_t> toLoaderFileForm (std::vector<uint8_t> image);

} // namespace TovarekTools
