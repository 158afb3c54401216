#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// Reads a user's impulse-response file (RIFF/WAVE or AIFF, one or two channels, 8 to 32 bits,
// 44100 to 192000 Hz) into two channels of doubles scaled to about -1.0 .. +1.0.
// Plain C file functions, no shared state: callable from any thread.
namespace Korvantal
{

// Why a file was refused. Codes 0 and 2 are not used for failures.
enum class waverror : int
{
    none = 0,
    cannotOpen = 1,              // null path, or the file cannot be opened
    malformed = 3,               // short, inconsistent or missing data
    unsupportedFormat = 4,       // WAV format tag other than PCM, float or extensible
    unsupportedChannelCount = 5, // neither one nor two channels
    unsupportedSampleRate = 6,   // not one of kAcceptedSampleRates
    unsupportedBitDepth = 7      // not 8, 16, 20, 24 or 32 bits (or float of other than 32)
};

constexpr int32_t kAcceptedSampleRates[] = { 44100, 48000, 88200, 96000, 176400, 192000 };

// The most frames a read decodes (10.9 s at 192000 Hz; an impulse response is far shorter), which
// bounds the memory it takes: the decoded channels hold at most 2 x 16 MiB. A read without a frame
// limit refuses a longer file as malformed before anything is sized from it.
constexpr int32_t kMaximumFrameCount = 1 << 21;

// A decoded file. For a one-channel file `right` is a copy of `left`.
struct AudioData
{
    std::vector<double> left;
    std::vector<double> right;
    int32_t frameCount = 0;
    int32_t sampleRate = 0;
    bool mono = false;
};

// Reads a WAV (or AIFF) file into `data`. With wantSamples false the sound data is only checked
// and skipped: sampleRate and mono are filled, the channels and frameCount are left alone.
// On failure `data` is unchanged.
// With a frame limit (clamped to 0 .. kMaximumFrameCount) only the file's first frames up to the
// limit are decoded and frameCount is their number; a longer file is then not refused, and the
// rest of its sound data is skipped unread. The whole file is checked either way.
waverror decodeWavFile (const char* path, AudioData& data, bool wantSamples,
                        std::optional<int32_t> frameLimit = std::nullopt);
waverror decodeAiffFile (const char* path, AudioData& data, bool wantSamples,
                         std::optional<int32_t> frameLimit = std::nullopt);

// WAV first whatever the file's name, then AIFF; the AIFF parser's code when both refuse.
waverror decodeAudioFile (const char* path, AudioData& data, bool wantSamples,
                          std::optional<int32_t> frameLimit = std::nullopt);

// The array interface, without a frame limit: true with the outputs written, or false with
// nothing written.
// Any out-parameter may be null; the samples are read only when left, right and frameCount are
// all given, and then any arrays already in *left and *right are released with delete[] and
// replaced by new[] arrays of *frameCount doubles that the caller owns.
bool readAudioFile (const char* path, double** left, double** right, int* frameCount, int* sampleRate, bool* mono);
bool readWavFile (const char* path, double** left, double** right, int* frameCount, int* sampleRate, bool* mono);
bool readAiffFile (const char* path, double** left, double** right, int* frameCount, int* sampleRate, bool* mono);

// Converts AIFF's 80-bit big-endian extended float. False for zero, infinities, NaNs and
// exponents whose value would not fit a double.
bool extendedToDouble (const unsigned char bytes[10], double* out);

} // namespace Korvantal
