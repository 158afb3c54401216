#pragma once

// Layout of the image pack "resources.bin". Every number is an unsigned 32-bit little-endian
// word and every offset counts from the start of the file:
//   offset 0: directory offset; offset 4: entry count N;
//   at the directory offset, N entries of (name offset, name length, data offset, data size);
//   names are raw bytes without terminator; data are the image files (PNG).
// No magic, version, checksum or padding: names and data may lie anywhere.

#include <cstddef>
#include <cstdint>

namespace ImagePackFormat
{
constexpr size_t kHeaderSize = 8;
constexpr size_t kEntrySize = 16;

constexpr size_t kHeaderDirectoryOffset = 0;
constexpr size_t kHeaderEntryCount = 4;

constexpr size_t kEntryNameOffset = 0;
constexpr size_t kEntryNameLength = 4;
constexpr size_t kEntryDataOffset = 8;
constexpr size_t kEntryDataSize = 12;

inline uint32_t readWord (const uint8_t* bytes)
{
    return (uint32_t) bytes[0] | ((uint32_t) bytes[1] << 8) | ((uint32_t) bytes[2] << 16) | ((uint32_t) bytes[3] << 24);
}

inline void writeWord (uint8_t* bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = (uint8_t) (value >> (8 * i));
}
} // namespace ImagePackFormat
