#include "AudioFileReader.h"

#include "AudioFixtures.h"
#include "TestSupport.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace Korvantal;
using namespace AudioFixtures;

namespace
{
constexpr int kRates[] = { 44100, 48000, 88200, 96000, 176400, 192000 };
constexpr int kFrames = 300;

std::string writeFixture (const std::string& testName, const Bytes& bytes, const std::string& name = "in.wav")
{
    const std::string path = TestSupport::makeTempDirectory (testName) + "/" + name;
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

struct SoxCase
{
    std::string type;
    std::string encoding;
    int bits;
};

// Has sox write the test response at every accepted rate and one or two channels, and checks that
// every decoded sample is within one quantisation step of what sox was given.
void checkSoxFiles (const std::string& testName, const std::vector<SoxCase>& cases)
{
    const std::string dir = TestSupport::makeTempDirectory (testName);

    for (const SoxCase& c : cases)
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

                const std::string path = dir + "/out." + c.type;
                ASSERT_EQ (soxWrite (dir, interleaved, rate, channels, c.type, c.encoding, c.bits, path), 0);

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
} // namespace

// Files written by an independent tool

TEST (AudioFileReader, decodesSoxWavFilesOfEveryAcceptedDepthRateAndChannelCount)
{
    checkSoxFiles ("soxWav", { { "wav", "unsigned-integer", 8 },
                               { "wav", "signed-integer", 16 },
                               { "wav", "signed-integer", 24 },
                               { "wav", "signed-integer", 32 },
                               { "wav", "floating-point", 32 } });
}

TEST (AudioFileReader, decodesSoxAiffFilesOfEveryAcceptedDepthRateAndChannelCount)
{
    checkSoxFiles ("soxAiff", { { "aiff", "signed-integer", 8 },
                                { "aiff", "signed-integer", 16 },
                                { "aiff", "signed-integer", 24 },
                                { "aiff", "signed-integer", 32 } });
}

TEST (AudioFileReader, readsTheExtensibleFormatSoxWritesForDeepSamples)
{
    const std::string dir = TestSupport::makeTempDirectory ("soxExtensible");
    const std::string path = dir + "/out.wav";
    const std::vector<float> left = testResponse (kFrames, 0);
    ASSERT_EQ (soxWrite (dir, left, 96000, 1, "wav", "signed-integer", 24, path), 0);

    const Bytes bytes = TestSupport::readFileBytes (path);
    ASSERT_GT (bytes.size(), 22u);
    ASSERT_EQ (bytes[20] | (bytes[21] << 8), 0xFFFE); // the fixture really is extensible

    AudioData data;
    ASSERT_EQ (decodeWavFile (path.c_str(), data, true), waverror::none);
    ASSERT_EQ (data.frameCount, kFrames);
    for (size_t i = 0; i < left.size(); ++i)
        ASSERT_NEAR (data.left[i], left[i], std::ldexp (1.0, -23));
}

TEST (AudioFileReader, refusesSoxFilesOfUnsupportedRateChannelCountAndFormat)
{
    const std::string dir = TestSupport::makeTempDirectory ("soxRefused");
    const std::vector<float> mono = testResponse (100, 0);
    std::vector<float> threeChannels;
    for (float v : mono)
        threeChannels.insert (threeChannels.end(), { v, v, v });

    AudioData data;
    const std::string slow = dir + "/slow.wav";
    ASSERT_EQ (soxWrite (dir, mono, 22050, 1, "wav", "signed-integer", 16, slow), 0);
    EXPECT_EQ (decodeWavFile (slow.c_str(), data, true), waverror::unsupportedSampleRate);

    const std::string slowAiff = dir + "/slow.aiff";
    ASSERT_EQ (soxWrite (dir, mono, 22050, 1, "aiff", "signed-integer", 16, slowAiff), 0);
    EXPECT_EQ (decodeAiffFile (slowAiff.c_str(), data, true), waverror::unsupportedSampleRate);

    const std::string three = dir + "/three.wav";
    ASSERT_EQ (soxWrite (dir, threeChannels, 48000, 3, "wav", "signed-integer", 16, three), 0);
    EXPECT_EQ (decodeWavFile (three.c_str(), data, true), waverror::unsupportedChannelCount);

    const std::string threeAiff = dir + "/three.aiff";
    ASSERT_EQ (soxWrite (dir, threeChannels, 48000, 3, "aiff", "signed-integer", 16, threeAiff), 0);
    EXPECT_EQ (decodeAiffFile (threeAiff.c_str(), data, true), waverror::unsupportedChannelCount);

    const std::string adpcm = dir + "/adpcm.wav";
    ASSERT_EQ (soxWrite (dir, mono, 48000, 1, "wav", "ms-adpcm", 4, adpcm), 0);
    ASSERT_EQ (TestSupport::readFileBytes (adpcm).at (20), 2); // format tag 2
    EXPECT_EQ (decodeWavFile (adpcm.c_str(), data, true), waverror::unsupportedFormat);

    EXPECT_EQ (data.frameCount, 0); // nothing written by any refusal
    EXPECT_TRUE (data.left.empty());
}

TEST (AudioFileReader, readsAWavNamedFileHoldingAiffDataAsAiff)
{
    const std::string dir = TestSupport::makeTempDirectory ("aiffNamedWav");
    const std::string path = dir + "/really-aiff.wav";
    const std::vector<float> left = testResponse (kFrames, 0);
    ASSERT_EQ (soxWrite (dir, left, 44100, 1, "aiff", "signed-integer", 16, path), 0);

    AudioData data;
    EXPECT_EQ (decodeWavFile (path.c_str(), data, true), waverror::malformed);
    ASSERT_EQ (decodeAudioFile (path.c_str(), data, true), waverror::none);
    EXPECT_EQ (data.sampleRate, 44100);
    ASSERT_EQ (data.frameCount, kFrames);
    EXPECT_NEAR (data.left[10], left[10], 1.0 / 32768);
}

// Hand-made files: values and formats sox will not write

TEST (AudioFileReader, refusesTwelveBitSamplesAndFormatTagTwo)
{
    WavFormat twelve;
    twelve.bitsPerSample = 12;
    twelve.blockAlign = 4;
    EXPECT_EQ (wavCode (goodWav (twelve), "twelveBit"), waverror::unsupportedBitDepth);

    WavFormat adpcm;
    adpcm.tag = 2;
    EXPECT_EQ (wavCode (goodWav (adpcm), "tagTwo"), waverror::unsupportedFormat);

    const Bytes twelveAiff = aiffFile ({ aiffChunk ("COMM", aiffCommonPayload (1, 2, 12, 48000)),
                                         aiffChunk ("SSND", aiffSoundPayload ({ 0, 0, 0, 0 })) });
    EXPECT_EQ (aiffCode (twelveAiff, "twelveBitAiff"), waverror::unsupportedBitDepth);
}

TEST (AudioFileReader, reportsTheFirstFailedCheckInTagChannelRateDepthOrder)
{
    WavFormat f;
    f.tag = 2;
    f.channels = 3;
    f.sampleRate = 22050;
    f.bitsPerSample = 12;
    f.blockAlign = 6;
    EXPECT_EQ (wavCode (goodWav (f, Bytes (12)), "order1"), waverror::unsupportedFormat);
    f.tag = 1;
    EXPECT_EQ (wavCode (goodWav (f, Bytes (12)), "order2"), waverror::unsupportedChannelCount);
    f.channels = 2;
    EXPECT_EQ (wavCode (goodWav (f, Bytes (12)), "order3"), waverror::unsupportedSampleRate);
    f.sampleRate = 48000;
    EXPECT_EQ (wavCode (goodWav (f, Bytes (12)), "order4"), waverror::unsupportedBitDepth);
}

TEST (AudioFileReader, scalesEightBitWavAsUnsignedAndEightBitAiffAsSigned)
{
    WavFormat f;
    f.channels = 1;
    f.bitsPerSample = 8;
    AudioData wav;
    ASSERT_EQ (decodeWavFile (writeFixture ("wav8", goodWav (f, { 0x80, 0x00, 0xFF, 0x81 })).c_str(), wav, true),
               waverror::none);
    EXPECT_EQ (wav.left, (std::vector<double> { 0.0, -1.0, 127.0 / 128, 1.0 / 128 }));

    const Bytes aiff = aiffFile ({ aiffChunk ("COMM", aiffCommonPayload (1, 4, 8, 48000)),
                                   aiffChunk ("SSND", aiffSoundPayload ({ 0x80, 0x00, 0x7F, 0xFF })) });
    AudioData a;
    ASSERT_EQ (decodeAiffFile (writeFixture ("aiff8", aiff, "in.aiff").c_str(), a, true), waverror::none);
    EXPECT_EQ (a.left, (std::vector<double> { -1.0, 0.0, 127.0 / 128, -1.0 / 128 }));
}

TEST (AudioFileReader, scalesSixteenTwentyTwentyFourAndThirtyTwoBitExtremes)
{
    WavFormat f16;
    f16.channels = 1;
    AudioData d;
    ASSERT_EQ (decodeWavFile (writeFixture ("wav16", goodWav (f16, { 0x00, 0x80, 0xFF, 0x7F })).c_str(), d, true),
               waverror::none);
    EXPECT_EQ (d.left, (std::vector<double> { -1.0, 32767.0 / 32768 }));

    // 20-bit samples sit left-justified in three bytes and are scaled as 24-bit ones.
    WavFormat f20 = f16;
    f20.bitsPerSample = 20;
    ASSERT_EQ (decodeWavFile (writeFixture ("wav20", goodWav (f20, { 0x00, 0x00, 0x80, 0x10, 0x00, 0x00 })).c_str(), d, true),
               waverror::none);
    EXPECT_EQ (d.left, (std::vector<double> { -1.0, 16.0 / 8388608 }));

    WavFormat f24 = f16;
    f24.bitsPerSample = 24;
    ASSERT_EQ (decodeWavFile (writeFixture ("wav24", goodWav (f24, { 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F })).c_str(), d, true),
               waverror::none);
    EXPECT_EQ (d.left, (std::vector<double> { -1.0, 8388607.0 / 8388608 }));

    WavFormat f32 = f16;
    f32.bitsPerSample = 32;
    ASSERT_EQ (decodeWavFile (writeFixture ("wav32", goodWav (f32, { 0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0xFF })).c_str(), d, true),
               waverror::none);
    EXPECT_EQ (d.left, (std::vector<double> { -1.0, -1.0 / 2147483648.0 }));

    const Bytes aiff24 = aiffFile ({ aiffChunk ("COMM", aiffCommonPayload (1, 2, 24, 48000)),
                                     aiffChunk ("SSND", aiffSoundPayload ({ 0x80, 0x00, 0x00, 0x00, 0x00, 0x01 })) });
    ASSERT_EQ (decodeAiffFile (writeFixture ("aiff24", aiff24, "in.aiff").c_str(), d, true), waverror::none);
    EXPECT_EQ (d.left, (std::vector<double> { -1.0, 1.0 / 8388608 }));
}

TEST (AudioFileReader, decodesAnExtensibleFileByItsSubFormat)
{
    WavFormat f;
    f.channels = 1;
    f.bitsPerSample = 32;
    const Bytes floatData = { 0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x80, 0xBE }; // 0.5f, -0.25f
    AudioData d;
    ASSERT_EQ (decodeWavFile (writeFixture ("extFloat", riffFile ({ wavChunk ("fmt ", wavExtensiblePayload (f, 3)),
                                                                     wavChunk ("data", floatData) }))
                                  .c_str(),
                              d, true),
               waverror::none);
    EXPECT_EQ (d.left, (std::vector<double> { 0.5, -0.25 }));

    ASSERT_EQ (decodeWavFile (writeFixture ("extPcm", riffFile ({ wavChunk ("fmt ", wavExtensiblePayload (f, 1)),
                                                                   wavChunk ("data", floatData) }))
                                  .c_str(),
                              d, true),
               waverror::none);
    EXPECT_EQ (d.left, (std::vector<double> { 0x3F000000 / 2147483648.0, -0x41800000 / 2147483648.0 }));
}

TEST (AudioFileReader, refusesFloatSamplesOfOtherThanThirtyTwoBits)
{
    WavFormat f;
    f.tag = 3;
    EXPECT_EQ (wavCode (goodWav (f), "float16"), waverror::unsupportedBitDepth);
}

TEST (AudioFileReader, givesOneChannelFilesIdenticalChannelsAndTheMonoFlag)
{
    WavFormat f;
    f.channels = 1;
    AudioData d;
    ASSERT_EQ (decodeWavFile (writeFixture ("mono", goodWav (f)).c_str(), d, true), waverror::none);
    EXPECT_TRUE (d.mono);
    EXPECT_EQ (d.frameCount, 8);
    EXPECT_EQ (d.left, d.right);
    EXPECT_EQ (d.left[3], 3.0 / 32768);
}

// Chunk walking

TEST (AudioFileReader, skipsUnknownChunksBeforeTheFormatAndOddChunksWithTheirPadByte)
{
    const Bytes file = riffFile ({ wavChunk ("LIST", Bytes (10, 0x55)), wavChunk ("fmt ", wavFormatPayload ({})),
                                   wavChunk ("odd ", Bytes (3, 0x66)), wavChunk ("data", goodWavData()),
                                   wavChunk ("tail", Bytes (5, 0x77)) });
    ASSERT_EQ (file[12 + 8 + 10 + 8 + 16 + 8 + 3], 0); // the pad byte after "odd "

    AudioData d;
    ASSERT_EQ (decodeWavFile (writeFixture ("unknownChunks", file).c_str(), d, true), waverror::none);
    EXPECT_EQ (d.sampleRate, 48000);
    EXPECT_FALSE (d.mono);
    ASSERT_EQ (d.frameCount, 4);
    EXPECT_EQ (d.left, (std::vector<double> { 0.0, 2.0 / 32768, 4.0 / 32768, 6.0 / 32768 }));
    EXPECT_EQ (d.right, (std::vector<double> { 1.0 / 32768, 3.0 / 32768, 5.0 / 32768, 7.0 / 32768 }));
}

TEST (AudioFileReader, countsThePadByteOfAnOddSizedSoundChunk)
{
    WavFormat f;
    f.channels = 1;
    f.bitsPerSample = 8;
    const Bytes file = riffFile ({ wavChunk ("fmt ", wavFormatPayload (f)), wavChunk ("data", { 0x81, 0x82, 0x83 }),
                                   wavChunk ("junk", Bytes (4, 0)) });
    AudioData d;
    ASSERT_EQ (decodeWavFile (writeFixture ("oddData", file).c_str(), d, true), waverror::none);
    EXPECT_EQ (d.left, (std::vector<double> { 1.0 / 128, 2.0 / 128, 3.0 / 128 }));

    const Bytes aiff = aiffFile ({ aiffChunk ("SSND", aiffSoundPayload ({ 1, 2, 3 })), aiffChunk ("NAME", { 'x' }),
                                   aiffChunk ("COMM", aiffCommonPayload (1, 3, 8, 88200)) });
    ASSERT_EQ (decodeAiffFile (writeFixture ("oddSsnd", aiff, "in.aiff").c_str(), d, true), waverror::none);
    EXPECT_EQ (d.sampleRate, 88200);
    EXPECT_EQ (d.left, (std::vector<double> { 1.0 / 128, 2.0 / 128, 3.0 / 128 }));
}

TEST (AudioFileReader, letsALaterChunkReplaceAnEarlierOne)
{
    WavFormat first;
    first.sampleRate = 44100;
    WavFormat second;
    second.channels = 1;
    const Bytes file = riffFile ({ wavChunk ("fmt ", wavFormatPayload (first)), wavChunk ("data", pcm16LE ({ 9, 9 })),
                                   wavChunk ("fmt ", wavFormatPayload (second)), wavChunk ("data", pcm16LE ({ 1, 2, 3 })) });
    AudioData d;
    ASSERT_EQ (decodeWavFile (writeFixture ("replace", file).c_str(), d, true), waverror::none);
    EXPECT_EQ (d.sampleRate, 48000);
    EXPECT_EQ (d.left, (std::vector<double> { 1.0 / 32768, 2.0 / 32768, 3.0 / 32768 }));
}

TEST (AudioFileReader, convertsTheAiffExtendedRate44100Exactly)
{
    const unsigned char rate44100[10] = { 0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0 };
    double value = 0.0;
    ASSERT_TRUE (extendedToDouble (rate44100, &value));
    EXPECT_EQ (value, 44100.0);

    const unsigned char negativeHalf[10] = { 0xBF, 0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0 };
    ASSERT_TRUE (extendedToDouble (negativeHalf, &value));
    EXPECT_EQ (value, -0.5);

    // The lowest fraction bit still counts (1 + 2^-63 rounds to 1 in a double, so use 2^-52).
    const unsigned char onePlus[10] = { 0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0x08, 0x00 };
    ASSERT_TRUE (extendedToDouble (onePlus, &value));
    EXPECT_EQ (value, 1.0 + std::ldexp (1.0, -52));
}

TEST (AudioFileReader, refusesExtendedValuesThatDoNotFitADouble)
{
    double value = 7.0;
    const unsigned char zero[10] = {};
    const unsigned char infinite[10] = { 0x7F, 0xFF, 0x80 };
    const unsigned char tooSmall[10] = { 0x3B, 0xFF, 0x80 }; // exponent 15359
    const unsigned char tooLarge[10] = { 0x43, 0xFF, 0x80 }; // exponent 17407
    EXPECT_FALSE (extendedToDouble (zero, &value));
    EXPECT_FALSE (extendedToDouble (infinite, &value));
    EXPECT_FALSE (extendedToDouble (tooSmall, &value));
    EXPECT_FALSE (extendedToDouble (tooLarge, &value));
    EXPECT_EQ (value, 7.0);

    const unsigned char largest[10] = { 0x43, 0xFE, 0x80 }; // exponent 17406: 2^1023
    EXPECT_TRUE (extendedToDouble (largest, &value));
    EXPECT_EQ (value, std::ldexp (1.0, 1023));
}

TEST (AudioFileReader, refusesAnAiffRateTooLargeForAnIntegerAsUnsupported)
{
    Bytes common = aiffCommonPayload (1, 1, 16, 48000);
    common[8] = 0x43; // exponent 17406
    common[9] = 0xFE;
    const Bytes aiff = aiffFile ({ aiffChunk ("COMM", common), aiffChunk ("SSND", aiffSoundPayload ({ 0, 0 })) });
    EXPECT_EQ (aiffCode (aiff, "hugeRate"), waverror::unsupportedSampleRate);

    common[8] = 0x00; // exponent 0: cannot be converted
    common[9] = 0x00;
    const Bytes zeroRate = aiffFile ({ aiffChunk ("COMM", common), aiffChunk ("SSND", aiffSoundPayload ({ 0, 0 })) });
    EXPECT_EQ (aiffCode (zeroRate, "zeroRate"), waverror::malformed);
}

// Malformed and hostile files

TEST (AudioFileReader, refusesInconsistentWavFormatRecords)
{
    WavFormat byteRate;
    byteRate.byteRate = 48000 * 4 + 1;
    EXPECT_EQ (wavCode (goodWav (byteRate), "byteRate"), waverror::malformed);

    EXPECT_EQ (wavCode (goodWav ({}, pcm16LE ({ 1, 2, 3 })), "partialBlock"), waverror::malformed);

    WavFormat oddAlign;
    oddAlign.blockAlign = 5;
    EXPECT_EQ (wavCode (goodWav (oddAlign, Bytes (10)), "alignNotPerChannel"), waverror::malformed);

    // Two bytes per frame cannot hold two 16-bit samples: the decoder would run past the data.
    WavFormat smallAlign;
    smallAlign.blockAlign = 2;
    EXPECT_EQ (wavCode (goodWav (smallAlign), "smallAlign"), waverror::malformed);

    WavFormat zeroAlign;
    zeroAlign.blockAlign = 0;
    zeroAlign.byteRate = 0;
    EXPECT_EQ (wavCode (goodWav (zeroAlign), "zeroAlign"), waverror::malformed);

    EXPECT_EQ (wavCode (riffFile ({ wavChunk ("fmt ", Bytes (14, 0)), wavChunk ("data", goodWavData()) }), "shortFmt"),
               waverror::malformed);
}

TEST (AudioFileReader, refusesMissingEmptyOrOversizedChunks)
{
    EXPECT_EQ (wavCode (riffFile ({ wavChunk ("data", goodWavData()) }), "noFmt"), waverror::malformed);
    EXPECT_EQ (wavCode (riffFile ({ wavChunk ("fmt ", wavFormatPayload ({})) }), "noData"), waverror::malformed);
    EXPECT_EQ (wavCode (goodWav ({}, {}), "emptyData"), waverror::malformed);

    // A "data" chunk claiming more than the file holds: the container size is made to match it.
    Bytes bigData = goodWav();
    bigData[40] = 0xFF; // data size 0x..FF
    bigData[41] = 0xFF;
    const uint32_t claimed = 36 + 0xFFFF;
    bigData[4] = static_cast<uint8_t> (claimed);
    bigData[5] = static_cast<uint8_t> (claimed >> 8);
    EXPECT_EQ (wavCode (bigData, "bigData"), waverror::malformed);

    Bytes bigRiff = goodWav();
    bigRiff[4] += 8; // the walk expects one more chunk than there is
    EXPECT_EQ (wavCode (bigRiff, "bigRiff"), waverror::malformed);

    EXPECT_EQ (wavCode (riffFile ({}, 4), "riffSizeFour"), waverror::malformed);
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

TEST (AudioFileReader, refusesAiffSoundDataShorterThanTheFrameCount)
{
    EXPECT_EQ (aiffCode (goodAiff (2), "exactFrames"), waverror::none);
    EXPECT_EQ (aiffCode (goodAiff (3), "moreFrames"), waverror::malformed);
    EXPECT_EQ (aiffCode (goodAiff (0x40000000), "hugeFrames"), waverror::malformed);
}

TEST (AudioFileReader, refusesAiffSoundOffsetsBlockSizesAndCompressedForms)
{
    EXPECT_EQ (aiffCode (goodAiff (2, { 0, 1, 0, 2, 0, 3, 0, 4 }, 4), "offsetFour"), waverror::malformed);

    const Bytes blockSize = aiffFile ({ aiffChunk ("COMM", aiffCommonPayload (2, 2, 16, 48000)),
                                        aiffChunk ("SSND", aiffSoundPayload ({ 0, 1, 0, 2, 0, 3, 0, 4 }, 0, 8)) });
    EXPECT_EQ (aiffCode (blockSize, "blockSize"), waverror::malformed);

    const Bytes noSound = aiffFile ({ aiffChunk ("COMM", aiffCommonPayload (2, 0, 16, 48000)),
                                      aiffChunk ("SSND", aiffSoundPayload ({})) });
    EXPECT_EQ (aiffCode (noSound, "noSound"), waverror::malformed);

    const Bytes shortCommon = aiffFile ({ aiffChunk ("COMM", Bytes (16, 0)), aiffChunk ("SSND", aiffSoundPayload ({ 0, 0 })) });
    EXPECT_EQ (aiffCode (shortCommon, "shortCommon"), waverror::malformed);

    const Bytes compressed = aiffFile ({ aiffChunk ("COMM", aiffCommonPayload (1, 1, 16, 48000)),
                                         aiffChunk ("SSND", aiffSoundPayload ({ 0, 0 })) },
                                       -1, "AIFC");
    EXPECT_EQ (aiffCode (compressed, "aifc"), waverror::malformed);
}

TEST (AudioFileReader, refusesMissingAndEmptyFilesAndANullPath)
{
    AudioData d;
    EXPECT_EQ (decodeWavFile (nullptr, d, true), waverror::cannotOpen);
    EXPECT_EQ (decodeAiffFile (nullptr, d, true), waverror::cannotOpen);
    const std::string dir = TestSupport::makeTempDirectory ("missing");
    EXPECT_EQ (decodeWavFile ((dir + "/absent.wav").c_str(), d, true), waverror::cannotOpen);
    EXPECT_EQ (decodeWavFile (dir.c_str(), d, true), waverror::malformed); // a directory opens but cannot be read
    EXPECT_EQ (wavCode ({}, "empty"), waverror::malformed);
    EXPECT_EQ (aiffCode ({}, "emptyAiff"), waverror::malformed);
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

TEST (AudioFileReader, acceptsAFileEndingWithoutThePadByteOfItsLastOddChunk)
{
    WavFormat f;
    f.channels = 1;
    f.bitsPerSample = 8;
    Bytes file = riffFile ({ wavChunk ("fmt ", wavFormatPayload (f)), wavChunk ("data", { 0x81, 0x82, 0x83 }) });
    file.pop_back(); // the pad byte
    file[4] -= 1;    // and the container size that counted it
    AudioData d;
    ASSERT_EQ (decodeWavFile (writeFixture ("noPad", file).c_str(), d, true), waverror::none);
    EXPECT_EQ (d.frameCount, 3);
}

TEST (AudioFileReader, neverDecodesMoreSamplesThanAMutatedHeaderLeavesInTheFile)
{
    // Every header byte of a good file set to values that make sizes and counts extreme: each
    // result is a refusal or a decode that fits the file (the sanitizer build watches the reads).
    const std::vector<Bytes> goodFiles = { goodWav(), goodAiff() };
    const uint8_t values[] = { 0x00, 0x01, 0x02, 0x7F, 0x80, 0xFE, 0xFF };
    const std::string dir = TestSupport::makeTempDirectory ("mutated");
    const std::string path = dir + "/in.bin";

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
