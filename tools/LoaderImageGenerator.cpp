#include "LoaderImageGenerator.h"

#include <algorithm>
#include <array>

namespace TovarekTools
{

namespace
{

std::array<uint32_t, 256> makeCrcTable()
{
    std::array<uint32_t, 256> table {};
    for (uint32_t n = 0; n < 256; ++n)
    {
        uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        table[n] = c;
    }
    return table;
}

void putLittleEndian32 (uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t> (value >> (8 * i));
}

uint8_t reverseBits (uint8_t byte)
{
    uint8_t reversed = 0;
    for (int bit = 0; bit < 8; ++bit)
        if (byte & (1u << bit))
            reversed |= static_cast<uint8_t> (0x80u >> bit);
    return reversed;
}

// The payload stands in for the DSP program: a run of loader records (a 16-bit record tag, a
// 16-bit word count, a 32-bit DSP address, then the words), filled from a fixed-seed generator
// so that every run yields the same bytes.
std::vector<uint8_t> makePayload()
{
    std::vector<uint8_t> payload (kLoaderPayloadSize, 0);
    uint32_t state = 0x2F6B3A91u;
    auto next = [&state]
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };

    constexpr size_t recordHeaderSize = 8;
    constexpr size_t recordWords = 62;
    uint32_t address = 0x8000;
    size_t offset = 0;
    while (offset + recordHeaderSize <= payload.size())
    {
        const size_t words = std::min (recordWords, (payload.size() - offset - recordHeaderSize) / 4);
        payload[offset + 0] = 0x01;
        payload[offset + 1] = 0x00;
        payload[offset + 2] = static_cast<uint8_t> (words);
        payload[offset + 3] = 0x00;
        putLittleEndian32 (&payload[offset + 4], address);
        offset += recordHeaderSize;
        for (size_t w = 0; w < words; ++w, offset += 4)
            putLittleEndian32 (&payload[offset], next());
        address += static_cast<uint32_t> (words);
        if (words == 0)
            break;
    }
    return payload;
}

} // namespace

uint32_t crc32 (const uint8_t* data, size_t size)
{
    static const std::array<uint32_t, 256> table = makeCrcTable();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::vector<uint8_t> makeLoaderImage()
{
    const std::vector<uint8_t> payload = makePayload();
    std::vector<uint8_t> image (kLoaderHeaderSize, 0);
    image[0] = kLoaderMagic[0];
    image[1] = kLoaderMagic[1];
    image[2] = kLoaderMagic[2];
    image[3] = kLoaderMagic[3];
    image[4] = kLoaderDspVersion[0];
    image[5] = kLoaderDspVersion[1];
    image[6] = kLoaderDspVersion[2];
    putLittleEndian32 (&image[8], static_cast<uint32_t> (payload.size()));
    putLittleEndian32 (&image[12], crc32 (payload.data(), payload.size()));
    image.insert (image.end(), payload.begin(), payload.end());
    return image;
}

std::vector<uint8_t> toLoaderFileForm (std::vector<uint8_t> image)
{
    for (auto& byte : image)
        byte = reverseBits (byte);
    return image;
}

} // namespace TovarekTools
