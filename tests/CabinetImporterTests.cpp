#include "UserCabinetImporter.h"

#include "AudioFileReader.h"

#include "AudioFixtures.h"
#include "TestSupport.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

using namespace Korvantal;
using namespace AudioFixtures;

namespace
{
constexpr double kPi = 3.141592653589793;
constexpr size_t kLength = 1024;

// A band-limited response (sines up to 15 kHz) whose channels differ, at time t seconds.
double bandLimited (double t, int channel)
{
    static const double frequencies[] = { 200.0, 2500.0, 6100.0, 9800.0, 15000.0 };
    double sum = 0.0;
    for (size_t i = 0; i < std::size (frequencies); ++i)
        sum += 0.17 * std::sin (2.0 * kPi * frequencies[i] * t + 0.9 * static_cast<double> (i) + 2.1 * channel);
    return sum;
}

// Has sox write `frames` frames of the band-limited response at `rate`.
std::string writeBandLimited (const std::string& dir, int rate, int channels, int frames, int bits = 24,
                              const std::string& type = "wav")
{
    std::vector<float> interleaved;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            interleaved.push_back (static_cast<float> (bandLimited (static_cast<double> (i) / rate, c)));

    const std::string path = dir + "/ir-" + std::to_string (rate) + "-" + std::to_string (channels) + "." + type;
    EXPECT_EQ (soxWrite (dir, interleaved, rate, channels, type, "signed-integer", bits, path), 0);
    return path;
}

struct Imported
{
    Result result;
    std::vector<float> samples = std::vector<float> (2 * kLength, 5.0f); // garbage the import must overwrite
    std::string log;

    const float* left() const { return samples.data(); }
    const float* right() const { return samples.data() + kLength; }
};

Imported importFile (const std::string& path)
{
    Imported imported;
    testing::internal::CaptureStdout();
    imported.result = importCabinetImpulse (path.c_str(), imported.samples.data());
    imported.log = testing::internal::GetCapturedStdout();

    // Into a cabinet record, as the editor imports: the same outcome and the same samples.
    KorvantalData::Impulse impulse {};
    testing::internal::CaptureStdout();
    EXPECT_EQ (importCabinetImpulse (path.c_str(), impulse).ok, imported.result.ok);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE (std::equal (impulse[0].begin(), impulse[0].end(), imported.left()));
    EXPECT_TRUE (std::equal (impulse[1].begin(), impulse[1].end(), imported.right()));
    return imported;
}

// Checks one output channel against the response computed directly at 48000 Hz, past the
// filter's reach at the start; returns the signal-to-error ratio in dB.
double signalToError (const float* channel, int source)
{
    double signal = 0.0;
    double error = 0.0;
    for (size_t j = 40; j < kLength; ++j)
    {
        const double expected = bandLimited (static_cast<double> (j) / 48000.0, source);
        signal += expected * expected;
        error += (channel[j] - expected) * (channel[j] - expected);
    }
    return 10.0 * std::log10 (signal / error);
}

void expectRefused (const Imported& imported)
{
    EXPECT_FALSE (imported.result.ok);
    EXPECT_EQ (imported.result.message, "Error loading impulse file");
    EXPECT_EQ (imported.log.rfind ("Error at UserCabinetImporter.cpp:", 0), 0u) << imported.log;
    EXPECT_NE (imported.log.find (": Error loading impulse file\n"), std::string::npos) << imported.log;
    for (size_t i = 0; i < kLength; ++i)
    {
        ASSERT_EQ (imported.left()[i], i == 0 ? 1.0f : 0.0f) << i;
        ASSERT_EQ (imported.right()[i], i == 0 ? 1.0f : 0.0f) << i;
    }
}

// Interleaved 8-bit samples, unsigned for a WAV and signed for an AIFF: the band-limited response
// for its first 65536 frames, then a cheap pattern (far past what the conversion reads).
Bytes eightBitSamples (bool aiff, int rate, int channels, uint32_t frames)
{
    Bytes out (static_cast<size_t> (frames) * static_cast<size_t> (channels));
    for (size_t i = 0; i < out.size(); ++i)
    {
        const size_t frame = i / static_cast<size_t> (channels);
        const long value = frame < 65536 ? std::lround (128.0 * bandLimited (static_cast<double> (frame) / rate, static_cast<int> (i) % channels))
                                         : static_cast<long> (i % 251) - 125;
        out[i] = static_cast<uint8_t> (aiff ? value : value + 128);
    }
    return out;
}

// A file of those samples; `later` follows the sound data, and the container's size is given or computed.
Bytes eightBitFile (bool aiff, int rate, int channels, const Bytes& samples, const Bytes& later = {}, int64_t size = -1,
                    uint32_t aiffFrames = 0)
{
    const uint32_t frames = aiffFrames != 0 ? aiffFrames : static_cast<uint32_t> (samples.size() / static_cast<size_t> (channels));
    WavFormat f;
    f.channels = static_cast<uint16_t> (channels);
    f.sampleRate = static_cast<uint32_t> (rate);
    f.bitsPerSample = 8;
    return aiff ? aiffFile ({ aiffChunk ("COMM", aiffCommonPayload (f.channels, frames, 8, f.sampleRate)), aiffChunk ("SSND", aiffSoundPayload (samples)), later }, size)
                : riffFile ({ wavChunk ("fmt ", wavFormatPayload (f)), wavChunk ("data", samples), later }, size);
}
} // namespace

TEST (CabinetImporter, convertsResponsesOfEveryRateChannelCountAndFormatTo1024SamplesAt48000Hz)
{
    const ScratchFolder dir ("everyRate");
    const struct
    {
        int rate;
        int channels;
        int frames;
        int bits;
        const char* type;
    } rows[] = {
        { 44100, 2, 2205, 24, "wav" },  { 48000, 2, 2400, 24, "wav" },   { 88200, 2, 4410, 24, "wav" },
        { 96000, 2, 4800, 24, "wav" },  { 176400, 2, 8820, 24, "wav" }, { 192000, 2, 9600, 24, "wav" },
        { 44100, 1, 2205, 24, "wav" },  { 48000, 1, 2400, 24, "wav" },   { 96000, 1, 4800, 24, "wav" },
        { 88200, 2, 5000, 16, "aiff" },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (std::to_string (row.rate) + " Hz, " + std::to_string (row.channels) + " channel(s), " + row.type);
        const Imported imported = importFile (writeBandLimited (dir.path(), row.rate, row.channels, row.frames, row.bits, row.type));
        ASSERT_TRUE (imported.result.ok);
        EXPECT_EQ (imported.log, "");
        const int rightSource = row.channels == 2 ? 1 : 0;
        EXPECT_GT (signalToError (imported.left(), 0), 60.0);
        EXPECT_GT (signalToError (imported.right(), rightSource), 60.0);
        // Every sample written, to the last one: the response runs past 1024 samples.
        EXPECT_NEAR (imported.left()[kLength - 1], bandLimited (1023.0 / 48000, 0), 2e-3);
        EXPECT_NEAR (imported.right()[kLength - 1], bandLimited (1023.0 / 48000, rightSource), 2e-3);
        for (size_t i = 0; row.channels == 1 && i < kLength; ++i)
            ASSERT_EQ (imported.left()[i], imported.right()[i]) << i;
    }
}

TEST (CabinetImporter, cutsOrPadsTheResponseAt1024SamplesWithoutAFade)
{
    const ScratchFolder dir ("cutOrPad");
    const struct
    {
        int rate;
        int frames;
        size_t exact;     // samples that are the response itself, at 48000 Hz
        size_t zeroFrom;  // the first of the zeros that pad it
    } rows[] = {
        { 48000, 500, 500, 500 },
        { 48000, 3000, kLength, kLength },
        // 600 frames at 96000 Hz convert to 300 samples, then the filter's tail is cut off by the zeros.
        { 96000, 600, 0, 301 },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (std::to_string (row.rate) + " Hz, " + std::to_string (row.frames) + " frames");
        const Imported imported = importFile (writeBandLimited (dir.path(), row.rate, 2, row.frames));
        ASSERT_TRUE (imported.result.ok);
        for (size_t i = 0; i < row.exact; ++i)
        {
            ASSERT_NEAR (imported.left()[i], bandLimited (static_cast<double> (i) / 48000, 0), 1e-6) << i;
            ASSERT_NEAR (imported.right()[i], bandLimited (static_cast<double> (i) / 48000, 1), 1e-6) << i;
        }
        EXPECT_NE (imported.left()[row.zeroFrom - 2], 0.0f);
        for (size_t i = row.zeroFrom; i < kLength; ++i)
        {
            ASSERT_EQ (imported.left()[i], 0.0f) << i;
            ASSERT_EQ (imported.right()[i], 0.0f) << i;
        }
    }
}

TEST (CabinetImporter, importsTenSecondsOfStereoFloatAt192000Hz)
{
    // 15 MB: the longest response the importer must take.
    constexpr int kRate = 192000;
    constexpr int kFrames = 10 * kRate;
    std::vector<float> interleaved (2 * static_cast<size_t> (kFrames));
    for (size_t i = 0; i < interleaved.size(); ++i)
        interleaved[i] = static_cast<float> (bandLimited (static_cast<double> (i / 2) / kRate, static_cast<int> (i % 2)));
    WavFormat f;
    f.tag = 3;
    f.sampleRate = kRate;
    f.bitsPerSample = 32;
    const Bytes file = riffFile ({ wavChunk ("fmt ", wavFormatPayload (f)), wavChunk ("data", floatLE (interleaved)) });
    ASSERT_GT (file.size(), 15'000'000u);

    const Imported imported = importFile (ScratchFolder ("tenSeconds").write ("in.wav", file));
    ASSERT_TRUE (imported.result.ok) << imported.log;
    EXPECT_GT (signalToError (imported.left(), 0), 60.0);
    EXPECT_GT (signalToError (imported.right(), 1), 60.0);
}

TEST (CabinetImporter, importsResponsesLongerThanTheReaderDecodesFromTheirStart)
{
    // Only the start of a response is kept: a long file imports to exactly the bits of a short
    // one that holds the same first frames.
    constexpr uint32_t kShortFrames = 32768;
    const ScratchFolder dir ("longResponses");
    const struct
    {
        const char* name;
        bool aiff;
        int rate;
        int channels;
        uint32_t frames;
    } rows[] = {
        { "30 s of mono WAV at 96000 Hz", false, 96000, 1, 30 * 96000 },
        { "11 s of stereo AIFF at 192000 Hz", true, 192000, 2, 11 * 192000 },
        { "stereo WAV at 44100 Hz, one frame more than the reader decodes", false, 44100, 2, kMaximumFrameCount + 1 },
        { "mono AIFF at 48000 Hz, one frame more than the reader decodes", true, 48000, 1, kMaximumFrameCount + 1 },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.name);
        ASSERT_GT (row.frames, static_cast<uint32_t> (kMaximumFrameCount));
        const Bytes samples = eightBitSamples (row.aiff, row.rate, row.channels, row.frames);
        const Bytes start (samples.begin(), samples.begin() + kShortFrames * row.channels);
        const Imported whole = importFile (dir.write ("long.wav", eightBitFile (row.aiff, row.rate, row.channels, samples)));
        const Imported cut = importFile (dir.write ("short.wav", eightBitFile (row.aiff, row.rate, row.channels, start)));
        ASSERT_TRUE (cut.result.ok) << cut.log;
        EXPECT_GT (signalToError (cut.right(), row.channels - 1), 35.0);
        EXPECT_TRUE (whole.result.ok) << whole.log;
        EXPECT_TRUE (whole.samples == cut.samples);
    }
}

// The importer refuses whatever the reader refuses, alike; which files those are is the reader's tests' concern.
TEST (CabinetImporter, refusesUnreadableAndUnsupportedFilesWithTheUnitImpulse)
{
    const ScratchFolder dir ("refusedImport");
    // Files longer than the reader decodes are still checked to their end.
    const uint32_t longFrames = 30 * 96000;
    const Bytes wavSamples = eightBitSamples (false, 96000, 1, longFrames);
    const Bytes aiffSamples = eightBitSamples (true, 96000, 1, longFrames);
    const Bytes aiff = eightBitFile (true, 96000, 1, aiffSamples); // its size as form size: 8 bytes too many
    Bytes runsPastTheEnd = wavChunk ("LIST", Bytes (10));
    runsPastTheEnd[4] = 11; // claims one byte more than the file holds
    const struct
    {
        const char* name;
        std::string path;
    } rows[] = {
        { "missing file", dir.path() + "/absent.wav" },
        { "22050 Hz", writeBandLimited (dir.path(), 22050, 2, 1000) },
        { "empty file", dir.write ("empty.wav", {}) },
        { "long WAV with a format chunk of 14 bytes after its sound data",
          dir.write ("lateFormat.wav", eightBitFile (false, 96000, 1, wavSamples, wavChunk ("fmt ", Bytes (14)))) },
        { "long WAV whose last chunk runs past the end of the file",
          dir.write ("pastTheEnd.wav", eightBitFile (false, 96000, 1, wavSamples, runsPastTheEnd)) },
        { "long AIFF whose container claims more than the file holds",
          dir.write ("bigForm.aiff", eightBitFile (true, 96000, 1, aiffSamples, {}, static_cast<int64_t> (aiff.size()))) },
        { "long AIFF whose frame count needs more than its sound data",
          dir.write ("shortSound.aiff", eightBitFile (true, 96000, 1, aiffSamples, {}, -1, longFrames + 1)) },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.name);
        expectRefused (importFile (row.path));
    }
}
