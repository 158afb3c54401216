#include "AudioFixtures.h"

#include "TestSupport.h"

#include <cmath>
#include <cstring>

namespace AudioFixtures
{

void appendId (Bytes& out, const char* id)
{
    out.insert (out.end(), id, id + 4);
}

void appendLE (Bytes& out, uint64_t value, int byteCount)
{
    for (int i = 0; i < byteCount; ++i)
        out.push_back (static_cast<uint8_t> (value >> (8 * i)));
}

void appendBE (Bytes& out, uint64_t value, int byteCount)
{
    for (int i = byteCount - 1; i >= 0; --i)
        out.push_back (static_cast<uint8_t> (value >> (8 * i)));
}

static Bytes chunk (const char* id, const Bytes& payload, bool bigEndian)
{
    Bytes out;
    appendId (out, id);
    bigEndian ? appendBE (out, payload.size(), 4) : appendLE (out, payload.size(), 4);
    out.insert (out.end(), payload.begin(), payload.end());
    if (payload.size() % 2 != 0)
        out.push_back (0);
    return out;
}

Bytes wavChunk (const char* id, const Bytes& payload) { return chunk (id, payload, false); }
Bytes aiffChunk (const char* id, const Bytes& payload) { return chunk (id, payload, true); }

Bytes wavFormatPayload (const WavFormat& f)
{
    const int container = f.bitsPerSample == 20 ? 3 : (f.bitsPerSample + 7) / 8;
    const int blockAlign = f.blockAlign >= 0 ? f.blockAlign : f.channels * container;
    const int64_t byteRate = f.byteRate >= 0 ? f.byteRate : int64_t { f.sampleRate } * blockAlign;
    Bytes out;
    appendLE (out, f.tag, 2);
    appendLE (out, f.channels, 2);
    appendLE (out, f.sampleRate, 4);
    appendLE (out, static_cast<uint64_t> (byteRate), 4);
    appendLE (out, static_cast<uint64_t> (blockAlign), 2);
    appendLE (out, f.bitsPerSample, 2);
    return out;
}

Bytes wavExtensiblePayload (WavFormat format, uint16_t subFormatTag)
{
    format.tag = 0xFFFE;
    Bytes out = wavFormatPayload (format);
    appendLE (out, 22, 2);                    // extension size
    appendLE (out, format.bitsPerSample, 2);  // valid bits
    appendLE (out, format.channels == 1 ? 4 : 3, 4); // speaker mask
    appendLE (out, subFormatTag, 2);
    static const uint8_t guidTail[14] = { 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71 };
    out.insert (out.end(), guidTail, guidTail + sizeof (guidTail));
    return out;
}

static Bytes container (const char* magic, const char* formType, const std::vector<Bytes>& chunks, int64_t size,
                        bool bigEndian)
{
    Bytes body;
    for (const Bytes& c : chunks)
        body.insert (body.end(), c.begin(), c.end());

    Bytes out;
    appendId (out, magic);
    const uint64_t value = size >= 0 ? static_cast<uint64_t> (size) : body.size() + 4;
    bigEndian ? appendBE (out, value, 4) : appendLE (out, value, 4);
    appendId (out, formType);
    out.insert (out.end(), body.begin(), body.end());
    return out;
}

Bytes riffFile (const std::vector<Bytes>& chunks, int64_t riffSize)
{
    return container ("RIFF", "WAVE", chunks, riffSize, false);
}

Bytes aiffFile (const std::vector<Bytes>& chunks, int64_t formSize, const char* formType)
{
    return container ("FORM", formType, chunks, formSize, true);
}

std::array<uint8_t, 10> extendedFromInteger (uint32_t value)
{
    std::array<uint8_t, 10> out {};
    if (value == 0)
        return out;

    int topBit = 31;
    while (((value >> topBit) & 1) == 0)
        --topBit;

    const int exponent = 16383 + topBit;
    const uint64_t mantissa = static_cast<uint64_t> (value) << (63 - topBit);
    out[0] = static_cast<uint8_t> (exponent >> 8);
    out[1] = static_cast<uint8_t> (exponent);
    for (int i = 0; i < 8; ++i)
        out[2 + i] = static_cast<uint8_t> (mantissa >> (56 - 8 * i));
    return out;
}

Bytes aiffCommonPayload (uint16_t channels, uint32_t frameCount, uint16_t bitsPerSample, uint32_t sampleRate)
{
    Bytes out;
    appendBE (out, channels, 2);
    appendBE (out, frameCount, 4);
    appendBE (out, bitsPerSample, 2);
    const auto rate = extendedFromInteger (sampleRate);
    out.insert (out.end(), rate.begin(), rate.end());
    return out;
}

Bytes aiffSoundPayload (const Bytes& data, uint32_t offset, uint32_t blockSize)
{
    Bytes out;
    appendBE (out, offset, 4);
    appendBE (out, blockSize, 4);
    out.insert (out.end(), data.begin(), data.end());
    return out;
}

Bytes pcm16LE (const std::vector<int16_t>& samples)
{
    Bytes out;
    for (int16_t s : samples)
        appendLE (out, static_cast<uint16_t> (s), 2);
    return out;
}

Bytes floatLE (const std::vector<float>& samples)
{
    Bytes out (samples.size() * sizeof (float));
    std::memcpy (out.data(), samples.data(), out.size()); // the test hosts are little-endian
    return out;
}

ScratchFolder::ScratchFolder (const std::string& testName) : _path (TestSupport::makeTempDirectory (testName)) {}

std::string ScratchFolder::write (const std::string& name, const Bytes& bytes) const
{
    const std::string path = _path + "/" + name;
    TestSupport::writeFileBytes (path, bytes);
    return path;
}

std::vector<float> testResponse (int frames, int channel)
{
    std::vector<float> out (static_cast<size_t> (frames));
    for (int i = 0; i < frames; ++i)
        out[static_cast<size_t> (i)] = static_cast<float> (
            0.9 * std::exp (-i / 400.0) * std::sin (0.37 * i + 1.3 * channel) * std::cos (0.011 * i * (channel + 1)));
    return out;
}

int soxWrite (const std::string& directory, const std::vector<float>& interleaved, int sampleRate, int channels,
              const std::string& type, const std::string& encoding, int bits, const std::string& outPath)
{
    Bytes raw (interleaved.size() * sizeof (float));
    std::memcpy (raw.data(), interleaved.data(), raw.size());
    const std::string rawPath = directory + "/input.f32";
    TestSupport::writeFileBytes (rawPath, raw);

    const std::string command = "sox -D -t raw -e floating-point -b 32 -L -r " + std::to_string (sampleRate) + " -c "
                                + std::to_string (channels) + " '" + rawPath + "' -t " + type + " -e " + encoding
                                + " -b " + std::to_string (bits) + " '" + outPath + "' 2>/dev/null";
    return TestSupport::runCommand (command);
}

} // namespace AudioFixtures
