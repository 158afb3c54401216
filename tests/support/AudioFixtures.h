#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Builders for hand-made WAV and AIFF files (for the cases an audio tool will not write) and a
// front end to sox for the files it does write.
namespace AudioFixtures
{

using Bytes = std::vector<uint8_t>;

void appendId (Bytes& out, const char* id);
void appendLE (Bytes& out, uint64_t value, int byteCount);
void appendBE (Bytes& out, uint64_t value, int byteCount);

// A chunk: identifier, 32-bit size of the payload, the payload, and a pad byte when it is odd.
Bytes wavChunk (const char* id, const Bytes& payload);
Bytes aiffChunk (const char* id, const Bytes& payload);

// A WAV format record; block align and byte rate follow from the others unless set.
struct WavFormat
{
    uint16_t tag = 1;
    uint16_t channels = 2;
    uint32_t sampleRate = 48000;
    uint16_t bitsPerSample = 16;
    int blockAlign = -1;
    int64_t byteRate = -1;
};
Bytes wavFormatPayload (const WavFormat& format);
// The 40-byte extensible record whose sub-format starts with subFormatTag.
Bytes wavExtensiblePayload (WavFormat format, uint16_t subFormatTag);

// "RIFF", size (computed unless given), "WAVE", then the chunks as they are.
Bytes riffFile (const std::vector<Bytes>& chunks, int64_t riffSize = -1);
Bytes aiffFile (const std::vector<Bytes>& chunks, int64_t formSize = -1, const char* formType = "AIFF");

// An unsigned integer rate as the 80-bit extended float AIFF stores.
std::array<uint8_t, 10> extendedFromInteger (uint32_t value);
Bytes aiffCommonPayload (uint16_t channels, uint32_t frameCount, uint16_t bitsPerSample, uint32_t sampleRate);
Bytes aiffSoundPayload (const Bytes& data, uint32_t offset = 0, uint32_t blockSize = 0);

// Interleaved 16-bit little-endian samples, and 32-bit little-endian IEEE floats.
Bytes pcm16LE (const std::vector<int16_t>& samples);
Bytes floatLE (const std::vector<float>& samples);

// A fresh folder for one test's files (removed when the test ends, as every temporary folder is).
class ScratchFolder
{
public:
    explicit ScratchFolder (const std::string& testName);

    const std::string& path() const { return _path; }
    // Writes `bytes` to a file of that name in the folder and returns its path.
    std::string write (const std::string& name, const Bytes& bytes) const;

private:
    std::string _path;
};

// A deterministic decaying test response of `frames` samples for one channel, within +-0.9.
std::vector<float> testResponse (int frames, int channel);

// Writes the interleaved float samples to a raw file and has sox convert them without dither.
// `encoding` is sox's name ("signed-integer", "unsigned-integer", "floating-point"); `type` the
// output file type ("wav", "aiff"). Returns sox's exit status.
int soxWrite (const std::string& directory, const std::vector<float>& interleaved, int sampleRate, int channels,
              const std::string& type, const std::string& encoding, int bits, const std::string& outPath);

} // namespace AudioFixtures
