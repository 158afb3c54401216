#include "UserCabinetImporter.h"

#include "AudioFileReader.h"
#include "Resampler.h"

#include <algorithm>
#include <array>
#include <vector>

namespace Korvantal
{
namespace
{
using KorvantalData::kImpulseLength;

// 17 zero crossings on each side, every accepted rate ratio within range, a fine table.
constexpr int kFilterLengthMultiplier = 35;
constexpr double kMinimumFactor = 1.0 / 12;
constexpr double kMaximumFactor = 12.0;
constexpr double kSamplesPerZeroCrossing = 4096.0;

using Channel = std::array<double, kImpulseLength>;

// Converts one decoded channel in a single call that takes at most kImpulseLength samples: the
// rest of a longer response is dropped. Returns the number of samples written.
size_t convertChannel (Resampler& resampler, const std::vector<double>& in, double factor, Channel& out)
{
    resampler.reset();
    int used = 0;
    const int written = resampler.process (in.data(), static_cast<int> (in.size()), 1, &used, out.data(),
                                           static_cast<int> (out.size()), factor);
    return static_cast<size_t> (std::max (written, 0));
}

size_t copyChannel (const std::vector<double>& in, Channel& out)
{
    const size_t n = std::min (in.size(), out.size());
    std::copy (in.begin(), in.begin() + static_cast<long> (n), out.begin());
    return n;
}

// A converted response cut at kImpulseLength samples is not faded, exactly like a 48000 Hz one
// that is cut: every rate gives the same response up to the cut.
void writeChannel (const Channel& working, size_t length, float* out)
{
    for (size_t i = 0; i < kImpulseLength; ++i)
        out[i] = i < length ? static_cast<float> (working[i]) : 0.0f;
}
} // namespace

bool loadImpulseChannels (const char* path, float* left, float* right)
{
    // Only the start of a response is kept: converting its first kImpulseLength samples takes
    // under 8000 frames at any accepted rate. So a longer file is imported from its first
    // kMaximumFrameCount frames, to the same samples as when it was decoded whole.
    AudioData data;
    const bool read = decodeAudioFile (path, data, true, kMaximumFrameCount) == waverror::none;

    Channel workingLeft {};
    Channel workingRight {};
    size_t leftLength = 0;
    size_t rightLength = 0;

    if (read && data.sampleRate == kCabinetSampleRate)
    {
        leftLength = copyChannel (data.left, workingLeft);
        rightLength = copyChannel (data.right, workingRight);
    }
    else if (read)
    {
        Resampler resampler (kFilterLengthMultiplier, true, kMinimumFactor, kMaximumFactor, kSamplesPerZeroCrossing);
        const double factor = static_cast<double> (kCabinetSampleRate) / data.sampleRate;
        leftLength = convertChannel (resampler, data.left, factor, workingLeft);
        rightLength = convertChannel (resampler, data.right, factor, workingRight);
    }

    writeChannel (workingLeft, leftLength, left);
    writeChannel (workingRight, rightLength, right);

    if (! read)
    {
        left[0] = 1.0f;
        right[0] = 1.0f;
    }

    return read;
}

namespace
{
// The one failure of an import: the causes are not told apart.
Result importChannels (const char* path, float* left, float* right)
{
    if (! loadImpulseChannels (path, left, right))
        return KORVANTAL_ERROR ("Error loading impulse file");

    return Result::success;
}
} // namespace

Result importCabinetImpulse (const char* path, float* samples)
{
    return importChannels (path, samples, samples + kImpulseLength);
}

Result importCabinetImpulse (const char* path, KorvantalData::Impulse& impulse)
{
    return importChannels (path, impulse[0].data(), impulse[1].data());
}

} // namespace Korvantal
