#include "UserCabinetImporter.h"

#include "AudioFixtures.h"
#include "TestSupport.h"

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

std::string writeBytes (const std::string& testName, const Bytes& bytes)
{
    const std::string path = TestSupport::makeTempDirectory (testName) + "/in.wav";
    TestSupport::writeFileBytes (path, bytes);
    return path;
}
} // namespace

TEST (CabinetImporter, convertsStereoResponsesAtEveryAcceptedRateTo1024DistinctSamplesAt48000Hz)
{
    const std::string dir = TestSupport::makeTempDirectory ("everyRate");
    for (int rate : { 44100, 48000, 88200, 96000, 176400, 192000 })
    {
        SCOPED_TRACE (rate);
        const Imported imported = importFile (writeBandLimited (dir, rate, 2, rate / 20));
        ASSERT_TRUE (imported.result.ok);
        EXPECT_EQ (imported.log, "");
        EXPECT_GT (signalToError (imported.left(), 0), 60.0);
        EXPECT_GT (signalToError (imported.right(), 1), 60.0);
        // Every sample written, to the last one: the response runs past 1024 samples.
        EXPECT_NEAR (imported.left()[kLength - 1], bandLimited (1023.0 / 48000, 0), 2e-3);
        EXPECT_NEAR (imported.right()[kLength - 1], bandLimited (1023.0 / 48000, 1), 2e-3);
    }
}

TEST (CabinetImporter, givesIdenticalChannelsForAOneChannelFile)
{
    const std::string dir = TestSupport::makeTempDirectory ("monoImport");
    for (int rate : { 44100, 48000, 96000 })
    {
        SCOPED_TRACE (rate);
        const Imported imported = importFile (writeBandLimited (dir, rate, 1, rate / 20));
        ASSERT_TRUE (imported.result.ok);
        EXPECT_GT (signalToError (imported.left(), 0), 60.0);
        for (size_t i = 0; i < kLength; ++i)
            ASSERT_EQ (imported.left()[i], imported.right()[i]) << i;
    }
}

TEST (CabinetImporter, readsAnAiffResponse)
{
    const std::string dir = TestSupport::makeTempDirectory ("aiffImport");
    const Imported imported = importFile (writeBandLimited (dir, 88200, 2, 5000, 16, "aiff"));
    ASSERT_TRUE (imported.result.ok);
    EXPECT_GT (signalToError (imported.left(), 0), 60.0);
    EXPECT_GT (signalToError (imported.right(), 1), 60.0);
}

TEST (CabinetImporter, copiesAShort48000HzResponseAndPadsItWithZeros)
{
    const std::string dir = TestSupport::makeTempDirectory ("short48k");
    const Imported imported = importFile (writeBandLimited (dir, 48000, 2, 500));
    ASSERT_TRUE (imported.result.ok);
    for (size_t i = 0; i < 500; ++i)
    {
        ASSERT_NEAR (imported.left()[i], bandLimited (static_cast<double> (i) / 48000, 0), 1e-6) << i;
        ASSERT_NEAR (imported.right()[i], bandLimited (static_cast<double> (i) / 48000, 1), 1e-6) << i;
    }
    for (size_t i = 500; i < kLength; ++i)
    {
        ASSERT_EQ (imported.left()[i], 0.0f) << i;
        ASSERT_EQ (imported.right()[i], 0.0f) << i;
    }
}

TEST (CabinetImporter, cutsALong48000HzResponseAt1024SamplesWithoutAFade)
{
    const std::string dir = TestSupport::makeTempDirectory ("long48k");
    const Imported imported = importFile (writeBandLimited (dir, 48000, 2, 3000));
    ASSERT_TRUE (imported.result.ok);
    for (size_t i = 0; i < kLength; ++i)
        ASSERT_NEAR (imported.left()[i], bandLimited (static_cast<double> (i) / 48000, 0), 1e-6) << i;
}

TEST (CabinetImporter, padsAShortConvertedResponseWithZeros)
{
    const std::string dir = TestSupport::makeTempDirectory ("short96k");
    const Imported imported = importFile (writeBandLimited (dir, 96000, 2, 600));
    ASSERT_TRUE (imported.result.ok);
    // 600 frames at 96000 Hz convert to 300 samples, then the filter's tail is cut off by the zeros.
    EXPECT_NE (imported.left()[299], 0.0f);
    for (size_t i = 301; i < kLength; ++i)
        ASSERT_EQ (imported.left()[i], 0.0f) << i;
}

TEST (CabinetImporter, fillsACabinetRecordsImpulse)
{
    const std::string dir = TestSupport::makeTempDirectory ("record");
    const std::string path = writeBandLimited (dir, 176400, 2, 9000);
    KorvantalData::Cabinet cabinet;
    ASSERT_TRUE (importCabinetImpulse (path.c_str(), cabinet.impulse).ok);
    EXPECT_GT (signalToError (cabinet.impulse[0].data(), 0), 60.0);
    EXPECT_GT (signalToError (cabinet.impulse[1].data(), 1), 60.0);

    testing::internal::CaptureStdout();
    const Result refused = importCabinetImpulse ((dir + "/absent.wav").c_str(), cabinet.impulse);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ (refused.message, "Error loading impulse file");
    EXPECT_EQ (cabinet.impulse, KorvantalData::makeUnitImpulse());
}

TEST (CabinetImporter, refusesMissingAndUnsupportedFilesWithTheUnitImpulse)
{
    const std::string dir = TestSupport::makeTempDirectory ("refusedImport");
    expectRefused (importFile (dir + "/absent.wav"));
    expectRefused (importFile (writeBandLimited (dir, 22050, 2, 1000)));

    WavFormat three;
    three.channels = 3;
    expectRefused (importFile (writeBytes ("threeChannels", riffFile ({ wavChunk ("fmt ", wavFormatPayload (three)),
                                                                        wavChunk ("data", Bytes (6, 0)) }))));
}

TEST (CabinetImporter, refusesHostileFilesWithTheUnitImpulse)
{
    const Bytes fmt = wavChunk ("fmt ", wavFormatPayload ({}));
    const Bytes data = wavChunk ("data", pcm16LE ({ 1000, -1000, 2000, -2000 }));

    expectRefused (importFile (writeBytes ("zeroLength", {})));

    // A "data" chunk claiming more than the file holds.
    Bytes bigData = wavChunk ("data", pcm16LE ({ 1000, -1000 }));
    bigData[4] = 0x00;
    bigData[5] = 0x00;
    bigData[6] = 0x10; // 1 MiB
    expectRefused (importFile (writeBytes ("dataTooBig", riffFile ({ fmt, bigData }, 4 + 24 + 8 + 0x100000))));

    // A container claiming more than the file holds.
    expectRefused (importFile (writeBytes ("riffTooBig", riffFile ({ fmt, data }, 0x7FFFFFF0))));

    // Block align smaller than the two 16-bit samples of a frame.
    WavFormat smallAlign;
    smallAlign.blockAlign = 2;
    expectRefused (importFile (writeBytes ("smallAlign", riffFile ({ wavChunk ("fmt ", wavFormatPayload (smallAlign)), data }))));

    // An AIFF "COMM" frame count larger than its "SSND" data.
    const Bytes aiff = aiffFile ({ aiffChunk ("COMM", aiffCommonPayload (2, 1000000, 16, 44100)),
                                   aiffChunk ("SSND", aiffSoundPayload (Bytes (400, 1))) });
    expectRefused (importFile (writeBytes ("commTooBig", aiff)));
}

TEST (CabinetImporter, keepsTheReadersScaleWithoutNormalising)
{
    // A 48000 Hz impulse of 0.25 stays 0.25.
    WavFormat f;
    f.channels = 1;
    const Bytes file = riffFile ({ wavChunk ("fmt ", wavFormatPayload (f)), wavChunk ("data", pcm16LE ({ 8192, 0, -4096 })) });
    const Imported imported = importFile (writeBytes ("noNormalise", file));
    ASSERT_TRUE (imported.result.ok);
    EXPECT_EQ (imported.left()[0], 0.25f);
    EXPECT_EQ (imported.left()[2], -0.125f);
    EXPECT_EQ (imported.left()[3], 0.0f);
}
