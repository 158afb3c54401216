#include "AudioFileReader.h"
#include "Resampler.h"
#include "UserCabinetImporter.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace Korvantal;

// Peak memory is a property of the whole process: measure one case at a time, e.g.
//   /usr/bin/time -v build/bench/CabinetImportBench --benchmark_filter=importStereo192kHzFloatTenSeconds
// and read "Maximum resident set size". The files are written in blocks so that making them adds
// little to the figure.
namespace
{
void appendLE (std::vector<uint8_t>& out, uint32_t value, int byteCount)
{
    for (int i = 0; i < byteCount; ++i)
        out.push_back (static_cast<uint8_t> (value >> (8 * i)));
}

struct WavShape
{
    uint16_t tag;
    uint16_t channels;
    uint32_t rate;
    uint16_t bits;
    uint32_t frames;
};

// A decaying test response written straight to a temporary file.
class BenchWav
{
public:
    explicit BenchWav (const WavShape& shape)
        : _path ((std::filesystem::temp_directory_path() / ("tovarek-bench-" + std::to_string (::getpid()) + ".wav")).string())
    {
        const uint32_t bytesPerSample = shape.bits / 8u;
        const uint32_t blockAlign = shape.channels * bytesPerSample;
        const uint32_t dataSize = shape.frames * blockAlign;
        std::vector<uint8_t> bytes;
        bytes.insert (bytes.end(), { 'R', 'I', 'F', 'F' });
        appendLE (bytes, 4 + 24 + 8 + dataSize, 4);
        bytes.insert (bytes.end(), { 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ' });
        appendLE (bytes, 16, 4);
        appendLE (bytes, shape.tag, 2);
        appendLE (bytes, shape.channels, 2);
        appendLE (bytes, shape.rate, 4);
        appendLE (bytes, shape.rate * blockAlign, 4);
        appendLE (bytes, blockAlign, 2);
        appendLE (bytes, shape.bits, 2);
        bytes.insert (bytes.end(), { 'd', 'a', 't', 'a' });
        appendLE (bytes, dataSize, 4);

        FILE* file = std::fopen (_path.c_str(), "wb");
        if (file == nullptr)
            return;

        for (uint32_t i = 0; i < shape.frames; ++i)
        {
            for (uint32_t channel = 0; channel < shape.channels; ++channel)
                appendSample (bytes, shape, 0.9 * std::exp (-(i % 100000) / 2000.0) * std::sin (0.01 * i * (channel + 1)));

            if (bytes.size() >= kBlockSize)
                flush (bytes, file);
        }

        flush (bytes, file);
        std::fclose (file);
    }
    ~BenchWav() { std::filesystem::remove (_path); }

    const char* path() const { return _path.c_str(); }

private:
    static constexpr size_t kBlockSize = 1 << 16;

    static void appendSample (std::vector<uint8_t>& bytes, const WavShape& shape, double value)
    {
        if (shape.tag == 3)
        {
            const float f = static_cast<float> (value);
            uint32_t bits;
            std::memcpy (&bits, &f, sizeof (bits));
            appendLE (bytes, bits, 4);
        }
        else if (shape.bits == 8)
            appendLE (bytes, static_cast<uint32_t> (128 + std::lround (value * 127.0)), 1);
        else
            appendLE (bytes, static_cast<uint32_t> (static_cast<int32_t> (value * std::ldexp (1.0, shape.bits - 1))),
                      shape.bits / 8);
    }

    static void flush (std::vector<uint8_t>& bytes, FILE* file)
    {
        std::fwrite (bytes.data(), 1, bytes.size(), file);
        bytes.clear();
    }

    std::string _path;
};

void importFile (benchmark::State& state, const WavShape& shape)
{
    const BenchWav file (shape);
    std::vector<float> samples (2048);

    for (auto _ : state)
    {
        const Result result = importCabinetImpulse (file.path(), samples.data());
        if (! result.ok)
            state.SkipWithError ("import failed");
        benchmark::DoNotOptimize (samples.data());
    }
}
} // namespace

// The whole import of a typical long response: read, convert both channels to 48000 Hz, write 2048 floats.
static void importStereo192kHz24BitSecond (benchmark::State& state)
{
    importFile (state, { 1, 2, 192000, 24, 192000 });
}
BENCHMARK (importStereo192kHz24BitSecond)->Unit (benchmark::kMillisecond);

// 10 s of 32-bit float stereo at 192000 Hz (15 MB): within the reader's frame limit, decoded whole.
static void importStereo192kHzFloatTenSeconds (benchmark::State& state)
{
    importFile (state, { 3, 2, 192000, 32, 1920000 });
}
BENCHMARK (importStereo192kHzFloatTenSeconds)->Unit (benchmark::kMillisecond)->Iterations (3);

// A 64 MB file of 8-bit mono samples, far past any impulse response: checked to its end, imported
// from its first kMaximumFrameCount frames.
static void importMono48kHz8Bit64MB (benchmark::State& state)
{
    importFile (state, { 1, 1, 48000, 8, 64u << 20 });
}
BENCHMARK (importMono48kHz8Bit64MB)->Unit (benchmark::kMillisecond)->Iterations (3);

// Reading and decoding alone, to show where the import's time goes.
static void readStereo192kHz24BitSecond (benchmark::State& state)
{
    const BenchWav file ({ 1, 2, 192000, 24, 192000 });

    for (auto _ : state)
    {
        AudioData data;
        if (decodeAudioFile (file.path(), data, true) != waverror::none)
            state.SkipWithError ("read failed");
        benchmark::DoNotOptimize (data.left.data());
    }
}
BENCHMARK (readStereo192kHz24BitSecond)->Unit (benchmark::kMillisecond);

// Designing the importer's filter table: 69632 windowed-sinc entries.
static void constructImporterResampler (benchmark::State& state)
{
    for (auto _ : state)
    {
        Resampler resampler (35, true, 1.0 / 12, 12.0, 4096.0);
        benchmark::DoNotOptimize (resampler.coefficients().data());
    }
}
BENCHMARK (constructImporterResampler)->Unit (benchmark::kMillisecond);
