#include "AudioFileReader.h"

#include "AudioFixtures.h"
#include "TestSupport.h"

#include <array>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>

using namespace Korvantal;
using namespace AudioFixtures;

namespace
{
constexpr int kRates[] = { 44100, 48000, 88200, 96000, 176400, 192000 };
constexpr int kFrames = 300;

// One folder for a test's fixtures, made at its first write; the folder goes when the test ends,
// so the next test (or the next repeat of this one) makes it anew.
std::string writeFixture (const std::string& testName, const Bytes& bytes, const std::string& name = "in.wav")
{
    static std::string folder;
    if (folder.empty() || ! std::filesystem::is_directory (folder))
        folder = TestSupport::makeTempDirectory ("reader");

    const std::string path = folder + "/" + testName + "-" + name;
    TestSupport::writeFileBytes (path, bytes);
    return path;
}

waverror wavCode (const Bytes& bytes, const std::string& testName)
{
    AudioData data;
    return decodeWavFile (writeFixture (testName, bytes).c_str(), data, true);
}

waverror aiffCode (const Bytes& bytes, const std::string& testName)
{
    AudioData data;
    return decodeAiffFile (writeFixture (testName, bytes, "in.aiff").c_str(), data, true);
}

// The known-good template the refusal cases change one thing of: 16-bit stereo, 48000 Hz, 4 frames.
Bytes goodWavData() { return pcm16LE ({ 0, 1, 2, 3, 4, 5, 6, 7 }); }
Bytes goodWav (const WavFormat& format = {}, const Bytes& data = goodWavData())
{
    return riffFile ({ wavChunk ("fmt ", wavFormatPayload (format)), wavChunk ("data", data) });
}

Bytes goodAiff (uint32_t frames = 2, const Bytes& sound = { 0, 1, 0, 2, 0, 3, 0, 4 }, uint32_t offset = 0)
{
    return aiffFile ({ aiffChunk ("COMM", aiffCommonPayload (2, frames, 16, 48000)),
                       aiffChunk ("SSND", aiffSoundPayload (sound, offset)) });
}
} // namespace

// Files written by an independent tool

// Has sox write the test response at every accepted rate and one or two channels, and checks that
// every decoded sample is within one quantisation step of what sox was given.
TEST (AudioFileReader, decodesSoxFilesOfEveryAcceptedDepthRateAndChannelCount)
{
    const struct
    {
        std::string type;
        std::string encoding;
        int bits;
    } cases[] = { { "wav", "unsigned-integer", 8 },  { "wav", "signed-integer", 16 },  { "wav", "signed-integer", 24 },
                  { "wav", "signed-integer", 32 },   { "wav", "floating-point", 32 },  { "aiff", "signed-integer", 8 },
                  { "aiff", "signed-integer", 16 },  { "aiff", "signed-integer", 24 }, { "aiff", "signed-integer", 32 } };
    const ScratchFolder dir ("sox");

    for (const auto& c : cases)
        for (int rate : kRates)
            for (int channels = 1; channels <= 2; ++channels)
            {
                SCOPED_TRACE (c.type + " " + c.encoding + " " + std::to_string (c.bits) + " bits, "
                              + std::to_string (rate) + " Hz, " + std::to_string (channels) + " channel(s)");
                const std::vector<float> left = testResponse (kFrames, 0);
                const std::vector<float> right = testResponse (kFrames, 1);
                std::vector<float> interleaved;
                for (int i = 0; i < kFrames; ++i)
                {
                    interleaved.push_back (left[static_cast<size_t> (i)]);
                    if (channels == 2)
                        interleaved.push_back (right[static_cast<size_t> (i)]);
                }

                const std::string path = dir.path() + "/out." + c.type;
                ASSERT_EQ (soxWrite (dir.path(), interleaved, rate, channels, c.type, c.encoding, c.bits, path), 0);
                const Bytes bytes = TestSupport::readFileBytes (path);
                if (c.type == "wav" && c.encoding == "signed-integer" && c.bits > 16)
                {
                    ASSERT_EQ (bytes.at (20) | (bytes.at (21) << 8), 0xFFFE); // deep samples: the extensible format
                }

                AudioData data;
                ASSERT_EQ (decodeAudioFile (path.c_str(), data, true), waverror::none);
                EXPECT_EQ (data.sampleRate, rate);
                EXPECT_EQ (data.mono, channels == 1);
                ASSERT_EQ (data.frameCount, kFrames);
                ASSERT_EQ (data.left.size(), static_cast<size_t> (kFrames));
                ASSERT_EQ (data.right.size(), static_cast<size_t> (kFrames));

                const double step = c.encoding == "floating-point" ? std::ldexp (1.0, -24) : std::ldexp (1.0, 1 - c.bits);
                const std::vector<float>& expectedRight = channels == 2 ? right : left;
                for (size_t i = 0; i < static_cast<size_t> (kFrames); ++i)
                {
                    ASSERT_NEAR (data.left[i], left[i], step) << "frame " << i;
                    ASSERT_NEAR (data.right[i], expectedRight[i], step) << "frame " << i;
                }
            }
}

TEST (AudioFileReader, refusesSoxFilesOfUnsupportedRateChannelCountAndFormat)
{
    const ScratchFolder dir ("soxRefused");
    const std::vector<float> mono = testResponse (100, 0);
    std::vector<float> threeChannels;
    for (float v : mono)
        threeChannels.insert (threeChannels.end(), { v, v, v });

    const struct
    {
        const char* type;
        const char* encoding;
        int bits;
        int rate;
        int channels;
        waverror expected;
    } rows[] = {
        { "wav", "signed-integer", 16, 22050, 1, waverror::unsupportedSampleRate },
        { "aiff", "signed-integer", 16, 22050, 1, waverror::unsupportedSampleRate },
        { "wav", "signed-integer", 16, 48000, 3, waverror::unsupportedChannelCount },
        { "aiff", "signed-integer", 16, 48000, 3, waverror::unsupportedChannelCount },
        { "wav", "ms-adpcm", 4, 48000, 1, waverror::unsupportedFormat }, // format tag 2
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (std::string (row.type) + " " + row.encoding + " " + std::to_string (row.rate) + " Hz, "
                      + std::to_string (row.channels) + " channel(s)");
        const std::string path = dir.path() + "/refused." + row.type;
        ASSERT_EQ (soxWrite (dir.path(), row.channels == 3 ? threeChannels : mono, row.rate, row.channels, row.type,
                             row.encoding, row.bits, path),
                   0);
        AudioData data;
        const bool aiff = std::string (row.type) == "aiff";
        EXPECT_EQ (aiff ? decodeAiffFile (path.c_str(), data, true) : decodeWavFile (path.c_str(), data, true), row.expected);
        EXPECT_EQ (data.frameCount, 0); // nothing written by a refusal
        EXPECT_TRUE (data.left.empty());
    }
}

// Hand-made files: values and formats sox will not write

TEST (AudioFileReader, decodesHandMadeFilesByTheScalingTableAndTheChunkRules)
{
    WavFormat mono;
    mono.channels = 1;
    WavFormat mono8 = mono;
    mono8.bitsPerSample = 8;
    auto withBits = [] (WavFormat f, uint16_t bits) { f.bitsPerSample = bits; return f; };
    WavFormat replaced;
    replaced.sampleRate = 44100;
    Bytes noPad = riffFile ({ wavChunk ("fmt ", wavFormatPayload (mono8)), wavChunk ("data", { 0x81, 0x82, 0x83 }) });
    noPad.pop_back(); // the pad byte of the last chunk
    noPad[4] -= 1;    // and the container size that counted it
    const Bytes floatData = { 0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x80, 0xBE }; // 0.5f, -0.25f
    const Bytes unknownChunks = riffFile ({ wavChunk ("LIST", Bytes (10, 0x55)), wavChunk ("fmt ", wavFormatPayload ({})),
                                            wavChunk ("odd ", Bytes (3, 0x66)), wavChunk ("data", goodWavData()),
                                            wavChunk ("tail", Bytes (5, 0x77)) });
    ASSERT_EQ (unknownChunks[12 + 8 + 10 + 8 + 16 + 8 + 3], 0); // the pad byte after "odd "

    const struct
    {
        const char* name;
        Bytes file;
        int rate;
        std::vector<double> left;
        std::vector<double> right; // empty for a one-channel file: a copy of left
    } rows[] = {
        { "8-bit WAV is unsigned", goodWav (mono8, { 0x80, 0x00, 0xFF, 0x81 }), 48000, { 0.0, -1.0, 127.0 / 128, 1.0 / 128 }, {} },
        { "8-bit AIFF is signed",
          aiffFile ({ aiffChunk ("COMM", aiffCommonPayload (1, 4, 8, 48000)), aiffChunk ("SSND", aiffSoundPayload ({ 0x80, 0x00, 0x7F, 0xFF })) }),
          48000, { -1.0, 0.0, 127.0 / 128, -1.0 / 128 }, {} },
        { "16-bit extremes", goodWav (mono, { 0x00, 0x80, 0xFF, 0x7F }), 48000, { -1.0, 32767.0 / 32768 }, {} },
        // 20-bit samples sit left-justified in three bytes and are scaled as 24-bit ones.
        { "20-bit extremes", goodWav (withBits (mono, 20), { 0x00, 0x00, 0x80, 0x10, 0x00, 0x00 }), 48000, { -1.0, 16.0 / 8388608 }, {} },
        { "24-bit extremes", goodWav (withBits (mono, 24), { 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F }), 48000, { -1.0, 8388607.0 / 8388608 }, {} },
        { "32-bit extremes", goodWav (withBits (mono, 32), { 0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0xFF }), 48000, { -1.0, -1.0 / 2147483648.0 }, {} },
        { "24-bit AIFF",
          aiffFile ({ aiffChunk ("COMM", aiffCommonPayload (1, 2, 24, 48000)), aiffChunk ("SSND", aiffSoundPayload ({ 0x80, 0x00, 0x00, 0x00, 0x00, 0x01 })) }),
          48000, { -1.0, 1.0 / 8388608 }, {} },
        { "extensible of float sub-format",
          riffFile ({ wavChunk ("fmt ", wavExtensiblePayload (withBits (mono, 32), 3)), wavChunk ("data", floatData) }), 48000, { 0.5, -0.25 }, {} },
        { "extensible of integer sub-format",
          riffFile ({ wavChunk ("fmt ", wavExtensiblePayload (withBits (mono, 32), 1)), wavChunk ("data", floatData) }), 48000,
          { 0x3F000000 / 2147483648.0, -0x41800000 / 2147483648.0 }, {} },
        { "one channel", goodWav (mono, goodWavData()), 48000, { 0.0, 1.0 / 32768, 2.0 / 32768, 3.0 / 32768, 4.0 / 32768, 5.0 / 32768, 6.0 / 32768, 7.0 / 32768 }, {} },
        { "unknown chunks before the format, an odd one with its pad byte", unknownChunks, 48000,
          { 0.0, 2.0 / 32768, 4.0 / 32768, 6.0 / 32768 }, { 1.0 / 32768, 3.0 / 32768, 5.0 / 32768, 7.0 / 32768 } },
        { "odd-sized sound chunk and its pad byte",
          riffFile ({ wavChunk ("fmt ", wavFormatPayload (mono8)), wavChunk ("data", { 0x81, 0x82, 0x83 }), wavChunk ("junk", Bytes (4, 0)) }),
          48000, { 1.0 / 128, 2.0 / 128, 3.0 / 128 }, {} },
        { "odd-sized AIFF sound chunk before the common chunk",
          aiffFile ({ aiffChunk ("SSND", aiffSoundPayload ({ 1, 2, 3 })), aiffChunk ("NAME", { 'x' }), aiffChunk ("COMM", aiffCommonPayload (1, 3, 8, 88200)) }),
          88200, { 1.0 / 128, 2.0 / 128, 3.0 / 128 }, {} },
        { "a later chunk replaces an earlier one",
          riffFile ({ wavChunk ("fmt ", wavFormatPayload (replaced)), wavChunk ("data", pcm16LE ({ 9, 9 })),
                      wavChunk ("fmt ", wavFormatPayload (mono)), wavChunk ("data", pcm16LE ({ 1, 2, 3 })) }),
          48000, { 1.0 / 32768, 2.0 / 32768, 3.0 / 32768 }, {} },
        { "a file ending without the pad byte of its last odd chunk", noPad, 48000, { 1.0 / 128, 2.0 / 128, 3.0 / 128 }, {} },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.name);
        AudioData d; // every file is named .wav: the AIFF ones are read as AIFF all the same
        ASSERT_EQ (decodeAudioFile (writeFixture ("handMade", row.file).c_str(), d, true), waverror::none);
        EXPECT_EQ (d.sampleRate, row.rate);
        EXPECT_EQ (d.mono, row.right.empty());
        EXPECT_EQ (d.frameCount, static_cast<int32_t> (row.left.size()));
        EXPECT_EQ (d.left, row.left);
        EXPECT_EQ (d.right, row.right.empty() ? row.left : row.right);
    }
}

TEST (AudioFileReader, convertsExtendedValuesThatFitADoubleAndRefusesTheOthers)
{
    const struct
    {
        const char* name;
        std::array<unsigned char, 10> bytes;
        bool ok;
        double value; // 7.0, the value given, when refused
    } rows[] = {
        { "44100", { 0x40, 0x0E, 0xAC, 0x44 }, true, 44100.0 },
        { "-0.5", { 0xBF, 0xFE, 0x80 }, true, -0.5 },
        // The lowest fraction bit still counts (1 + 2^-63 rounds to 1 in a double, so use 2^-52).
        { "1 + 2^-52", { 0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0x08, 0x00 }, true, 1.0 + std::ldexp (1.0, -52) },
        { "exponent 17406: 2^1023", { 0x43, 0xFE, 0x80 }, true, std::ldexp (1.0, 1023) },
        { "zero", {}, false, 7.0 },
        { "infinite", { 0x7F, 0xFF, 0x80 }, false, 7.0 },
        { "exponent 15359", { 0x3B, 0xFF, 0x80 }, false, 7.0 },
        { "exponent 17407", { 0x43, 0xFF, 0x80 }, false, 7.0 },
    };

    for (const auto& row : rows)
    {
        double value = 7.0;
        EXPECT_EQ (extendedToDouble (row.bytes.data(), &value), row.ok) << row.name;
        EXPECT_EQ (value, row.value) << row.name;
    }
}

TEST (AudioFileReader, refusesHandMadeFilesWithTheCodeOfTheirFault)
{
    auto wav = [] (auto change, const Bytes& data = goodWavData()) {
        WavFormat f;
        change (f);
        return goodWav (f, data);
    };
    auto aiff = [] (uint16_t bits, uint32_t frames, const Bytes& common, const Bytes& sound) {
        return aiffFile ({ aiffChunk ("COMM", common.empty() ? aiffCommonPayload (1, frames, bits, 48000) : common),
                           aiffChunk ("SSND", sound) });
    };
    Bytes hugeRate = aiffCommonPayload (1, 1, 16, 48000);
    hugeRate[8] = 0x43; // exponent 17406: too large for an integer rate
    hugeRate[9] = 0xFE;
    Bytes zeroRate = aiffCommonPayload (1, 1, 16, 48000);
    zeroRate[8] = zeroRate[9] = 0x00; // exponent 0: cannot be converted
    // A "data" chunk claiming more than the file holds, with a container size to match.
    Bytes bigData = goodWav();
    bigData[40] = bigData[41] = 0xFF;
    bigData[4] = static_cast<uint8_t> (36 + 0xFFFF);
    bigData[5] = static_cast<uint8_t> ((36 + 0xFFFF) >> 8);
    Bytes bigRiff = goodWav();
    bigRiff[4] += 8; // the walk expects one more chunk than there is
    // More frames than the reader takes, every byte of them in the file.
    const uint32_t tooMany = static_cast<uint32_t> (kMaximumFrameCount) + 1;
    WavFormat mono8;
    mono8.channels = 1;
    mono8.bitsPerSample = 8;

    const struct
    {
        const char* name;
        Bytes file;
        bool aiff;
        waverror expected;
    } rows[] = {
        { "12-bit samples", wav ([] (WavFormat& f) { f.bitsPerSample = 12; f.blockAlign = 4; }), false, waverror::unsupportedBitDepth },
        { "format tag 2", wav ([] (WavFormat& f) { f.tag = 2; }), false, waverror::unsupportedFormat },
        { "float of 16 bits", wav ([] (WavFormat& f) { f.tag = 3; }), false, waverror::unsupportedBitDepth },
        // The first failed check is reported, in the order tag, channels, rate, depth.
        { "tag, channels, rate and depth all wrong", wav ([] (WavFormat& f) { f = { 2, 3, 22050, 12, 6, -1 }; }, Bytes (12)), false, waverror::unsupportedFormat },
        { "channels, rate and depth wrong", wav ([] (WavFormat& f) { f = { 1, 3, 22050, 12, 6, -1 }; }, Bytes (12)), false, waverror::unsupportedChannelCount },
        { "rate and depth wrong", wav ([] (WavFormat& f) { f = { 1, 2, 22050, 12, 6, -1 }; }, Bytes (12)), false, waverror::unsupportedSampleRate },
        { "depth wrong", wav ([] (WavFormat& f) { f = { 1, 2, 48000, 12, 6, -1 }; }, Bytes (12)), false, waverror::unsupportedBitDepth },
        { "byte rate not rate x block align", wav ([] (WavFormat& f) { f.byteRate = 48000 * 4 + 1; }), false, waverror::malformed },
        { "data not a whole number of blocks", wav ([] (WavFormat&) {}, pcm16LE ({ 1, 2, 3 })), false, waverror::malformed },
        { "block align not a multiple of the channels", wav ([] (WavFormat& f) { f.blockAlign = 5; }, Bytes (10)), false, waverror::malformed },
        // Two bytes per frame cannot hold two 16-bit samples: the decoder would run past the data.
        { "block align smaller than its samples", wav ([] (WavFormat& f) { f.blockAlign = 2; }), false, waverror::malformed },
        { "block align 0", wav ([] (WavFormat& f) { f.blockAlign = 0; f.byteRate = 0; }), false, waverror::malformed },
        { "format chunk of 14 bytes", riffFile ({ wavChunk ("fmt ", Bytes (14, 0)), wavChunk ("data", goodWavData()) }), false, waverror::malformed },
        { "no format chunk", riffFile ({ wavChunk ("data", goodWavData()) }), false, waverror::malformed },
        { "no data chunk", riffFile ({ wavChunk ("fmt ", wavFormatPayload ({})) }), false, waverror::malformed },
        { "empty data chunk", goodWav ({}, {}), false, waverror::malformed },
        { "data chunk larger than the file", bigData, false, waverror::malformed },
        { "container larger than the file", bigRiff, false, waverror::malformed },
        { "container size 4", riffFile ({}, 4), false, waverror::malformed },
        { "more frames than the reader takes", goodWav (mono8, Bytes (tooMany, 0x80)), false, waverror::malformed },
        { "AIFF of 12-bit samples", aiff (12, 2, {}, aiffSoundPayload ({ 0, 0, 0, 0 })), true, waverror::unsupportedBitDepth },
        { "AIFF rate too large for an integer", aiff (16, 1, hugeRate, aiffSoundPayload ({ 0, 0 })), true, waverror::unsupportedSampleRate },
        { "AIFF rate of exponent 0", aiff (16, 1, zeroRate, aiffSoundPayload ({ 0, 0 })), true, waverror::malformed },
        { "AIFF frame count one more than the sound data", goodAiff (3), true, waverror::malformed },
        { "AIFF frame count far beyond the sound data", goodAiff (0x40000000), true, waverror::malformed },
        { "AIFF sound offset 4", goodAiff (2, { 0, 1, 0, 2, 0, 3, 0, 4 }, 4), true, waverror::malformed },
        { "AIFF block size 8", aiff (16, 4, {}, aiffSoundPayload ({ 0, 1, 0, 2, 0, 3, 0, 4 }, 0, 8)), true, waverror::malformed },
        { "AIFF without sound data", aiff (16, 0, {}, aiffSoundPayload ({})), true, waverror::malformed },
        { "AIFF common chunk of 16 bytes", aiff (16, 1, Bytes (16, 0), aiffSoundPayload ({ 0, 0 })), true, waverror::malformed },
        { "compressed AIFF-C", aiffFile ({ aiffChunk ("COMM", aiffCommonPayload (1, 1, 16, 48000)), aiffChunk ("SSND", aiffSoundPayload ({ 0, 0 })) }, -1, "AIFC"),
          true, waverror::malformed },
        { "AIFF of more frames than the reader takes", aiff (8, tooMany, {}, aiffSoundPayload (Bytes (tooMany, 0))), true, waverror::malformed },
    };

    for (const auto& row : rows)
        EXPECT_EQ (row.aiff ? aiffCode (row.file, "refused") : wavCode (row.file, "refused"), row.expected) << row.name;
}

TEST (AudioFileReader, decodesEveryFrameOfTheLongestFileItTakes)
{
    // Both channels of a WAV and the one of an AIFF, read in many blocks: every frame checked.
    const size_t frames = static_cast<size_t> (kMaximumFrameCount);
    Bytes wavData (2 * frames);
    Bytes aiffData (frames);
    for (size_t i = 0; i < frames; ++i)
    {
        wavData[2 * i] = static_cast<uint8_t> (i % 251);
        wavData[2 * i + 1] = static_cast<uint8_t> (i % 241);
        aiffData[i] = static_cast<uint8_t> (i % 239);
    }
    WavFormat stereo8;
    stereo8.bitsPerSample = 8;
    const Bytes aiff = aiffFile ({ aiffChunk ("COMM", aiffCommonPayload (1, kMaximumFrameCount, 8, 44100)),
                                   aiffChunk ("SSND", aiffSoundPayload (aiffData)) });

    AudioData w;
    ASSERT_EQ (decodeWavFile (writeFixture ("longestWav", goodWav (stereo8, wavData)).c_str(), w, true), waverror::none);
    AudioData a;
    ASSERT_EQ (decodeAiffFile (writeFixture ("longestAiff", aiff, "in.aiff").c_str(), a, true), waverror::none);
    ASSERT_EQ (w.frameCount, kMaximumFrameCount);
    ASSERT_EQ (a.frameCount, kMaximumFrameCount);
    for (size_t i = 0; i < frames; ++i)
    {
        ASSERT_EQ (w.left[i], (static_cast<int> (i % 251) - 128) / 128.0) << i;
        ASSERT_EQ (w.right[i], (static_cast<int> (i % 241) - 128) / 128.0) << i;
        ASSERT_EQ (a.left[i], (i % 239 < 128 ? static_cast<int> (i % 239) : static_cast<int> (i % 239) - 256) / 128.0) << i;
    }
}

TEST (AudioFileReader, decodesOnlyTheFirstFramesALimitAllowsAfterCheckingTheWholeFile)
{
    const uint32_t tooMany = static_cast<uint32_t> (kMaximumFrameCount) + 1;
    WavFormat mono8;
    mono8.channels = 1;
    mono8.bitsPerSample = 8;
    const std::vector<double> silence (static_cast<size_t> (kMaximumFrameCount), 0.0);
    Bytes bigRiff = goodWav();
    bigRiff[4] += 8; // the walk expects one more chunk than there is
    const ScratchFolder dir ("limited");

    const struct
    {
        const char* name;
        Bytes file;
        int32_t limit;
        waverror expected;
        std::vector<double> left;
        std::vector<double> right;
    } rows[] = {
        { "WAV of 4 frames, limit 2", goodWav(), 2, waverror::none, { 0.0, 2.0 / 32768 }, { 1.0 / 32768, 3.0 / 32768 } },
        { "WAV of 4 frames, limit 9", goodWav(), 9, waverror::none, { 0.0, 2.0 / 32768, 4.0 / 32768, 6.0 / 32768 },
          { 1.0 / 32768, 3.0 / 32768, 5.0 / 32768, 7.0 / 32768 } },
        { "AIFF of 2 frames, limit 1", goodAiff(), 1, waverror::none, { 1.0 / 32768 }, { 2.0 / 32768 } },
        { "WAV of more frames than the reader takes", goodWav (mono8, Bytes (tooMany, 0x80)), INT32_MAX, waverror::none, silence, silence },
        { "AIFF of more frames than the reader takes",
          aiffFile ({ aiffChunk ("COMM", aiffCommonPayload (1, tooMany, 8, 48000)), aiffChunk ("SSND", aiffSoundPayload (Bytes (tooMany, 0))) }),
          kMaximumFrameCount, waverror::none, silence, silence },
        { "a format chunk of 14 bytes after the sound data", riffFile ({ wavChunk ("fmt ", wavFormatPayload ({})), wavChunk ("data", goodWavData()), wavChunk ("fmt ", Bytes (14)) }),
          1, waverror::malformed, {}, {} },
        { "container larger than the file", bigRiff, 1, waverror::malformed, {}, {} },
        { "data not a whole number of blocks", goodWav ({}, pcm16LE ({ 1, 2, 3 })), 1, waverror::malformed, {}, {} },
        { "AIFF at 22050 Hz", aiffFile ({ aiffChunk ("COMM", aiffCommonPayload (2, 2, 16, 22050)), aiffChunk ("SSND", aiffSoundPayload (Bytes (8))) }),
          1, waverror::unsupportedSampleRate, {}, {} },
        { "AIFF frame count one more than the sound data", goodAiff (3), 1, waverror::malformed, {}, {} },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.name);
        AudioData d; // a WAV that is refused is then refused by the AIFF parser, as malformed
        EXPECT_EQ (decodeAudioFile (dir.write ("in.wav", row.file).c_str(), d, true, row.limit), row.expected);
        EXPECT_EQ (d.frameCount, static_cast<int32_t> (row.left.size()));
        EXPECT_TRUE (d.left == row.left); // not EXPECT_EQ: two million values would be printed
        EXPECT_TRUE (d.right == row.right);
    }
}

TEST (AudioFileReader, refusesEveryTruncationOfAGoodFile)
{
    const Bytes wav = goodWav();
    const Bytes aiff = goodAiff();
    for (size_t length = 0; length < wav.size(); ++length)
        ASSERT_EQ (wavCode (Bytes (wav.begin(), wav.begin() + static_cast<long> (length)), "cutWav"), waverror::malformed)
            << length;
    for (size_t length = 0; length < aiff.size(); ++length)
        ASSERT_EQ (aiffCode (Bytes (aiff.begin(), aiff.begin() + static_cast<long> (length)), "cutAiff"), waverror::malformed)
            << length;
    EXPECT_EQ (wavCode (wav, "wholeWav"), waverror::none);
    EXPECT_EQ (aiffCode (aiff, "wholeAiff"), waverror::none);
}

TEST (AudioFileReader, refusesMissingAndEmptyFilesAndANullPath)
{
    AudioData d;
    EXPECT_EQ (decodeWavFile (nullptr, d, true), waverror::cannotOpen);
    EXPECT_EQ (decodeAiffFile (nullptr, d, true), waverror::cannotOpen);
    const ScratchFolder dir ("missing");
    EXPECT_EQ (decodeWavFile ((dir.path() + "/absent.wav").c_str(), d, true), waverror::cannotOpen);
    EXPECT_EQ (decodeWavFile (dir.path().c_str(), d, true), waverror::malformed); // a directory opens but cannot be read
}

// The array interface

TEST (AudioFileReader, replacesTheCallersArraysOnlyOnSuccess)
{
    const std::string good = writeFixture ("arraysGood", goodWav());
    const std::string bad = writeFixture ("arraysBad", goodWav ({}, {}));

    double* left = new double[3] { 7, 7, 7 };
    double* right = nullptr;
    int frames = -1;
    int rate = -1;
    bool mono = true;
    ASSERT_TRUE (readAudioFile (good.c_str(), &left, &right, &frames, &rate, &mono));
    ASSERT_EQ (frames, 4);
    EXPECT_EQ (rate, 48000);
    EXPECT_FALSE (mono);
    EXPECT_EQ (left[1], 2.0 / 32768);
    EXPECT_EQ (right[3], 7.0 / 32768);

    double* const keptLeft = left;
    double* const keptRight = right;
    EXPECT_FALSE (readAudioFile (bad.c_str(), &left, &right, &frames, &rate, &mono));
    EXPECT_EQ (left, keptLeft);
    EXPECT_EQ (right, keptRight);
    EXPECT_EQ (frames, 4);
    delete[] left;
    delete[] right;
}

TEST (AudioFileReader, writesOnlyRateAndMonoWhenTheSamplesAreNotWanted)
{
    WavFormat f;
    f.channels = 1;
    f.sampleRate = 96000;
    const std::string path = writeFixture ("headerOnly", goodWav (f));

    int frames = -1;
    int rate = -1;
    bool mono = false;
    double* left = nullptr;
    ASSERT_TRUE (readWavFile (path.c_str(), &left, nullptr, &frames, &rate, &mono));
    EXPECT_EQ (left, nullptr);
    EXPECT_EQ (frames, -1);
    EXPECT_EQ (rate, 96000);
    EXPECT_TRUE (mono);
    EXPECT_TRUE (readAudioFile (path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));

    // The checks still apply when the data is skipped.
    WavFormat slow = f;
    slow.sampleRate = 22050;
    const std::string refused = writeFixture ("headerOnlyRefused", goodWav (slow));
    EXPECT_FALSE (readWavFile (refused.c_str(), nullptr, nullptr, nullptr, &rate, nullptr));
    EXPECT_EQ (rate, 96000);
}

TEST (AudioFileReader, neverDecodesMoreSamplesThanAMutatedHeaderLeavesInTheFile)
{
    // Every header byte of a good file set to values that make sizes and counts extreme: each
    // result is a refusal or a decode that fits the file (the sanitizer build watches the reads).
    const std::vector<Bytes> goodFiles = { goodWav(), goodAiff() };
    const uint8_t values[] = { 0x00, 0x01, 0x02, 0x7F, 0x80, 0xFE, 0xFF };
    const ScratchFolder dir ("mutated");
    const std::string path = dir.path() + "/in.bin";

    for (const Bytes& good : goodFiles)
        for (size_t index = 0; index + 8 < good.size(); ++index)
            for (uint8_t value : values)
            {
                Bytes mutated = good;
                mutated[index] = value;
                TestSupport::writeFileBytes (path, mutated);
                AudioData d;
                if (decodeAudioFile (path.c_str(), d, true) != waverror::none)
                    continue;
                ASSERT_LE (d.frameCount, static_cast<int32_t> (mutated.size())) << index << " " << int (value);
                ASSERT_EQ (d.left.size(), static_cast<size_t> (d.frameCount));
                ASSERT_EQ (d.right.size(), static_cast<size_t> (d.frameCount));
            }
}
