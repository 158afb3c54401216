#include "AudioFileReader.h"
#include "Resampler.h"
#include "UserCabinetImporter.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace Korvantal;

namespace
{
void appendLE (std::vector<uint8_t>& out, uint32_t value, int byteCount)
{
    for (int i = 0; i < byteCount; ++i)
        out.push_back (static_cast<uint8_t> (value >> (8 * i)));
}

// The worst case the importer accepts: one second of 24-bit stereo at 192000 Hz (1.1 MB).
class WorstCaseFile
{
public:
    WorstCaseFile()
        : _path ((std::filesystem::temp_directory_path() / ("tovarek-bench-" + std::to_string (::getpid()) + ".wav")).string())
    {
        constexpr uint32_t rate = 192000;
        constexpr uint32_t blockAlign = 6;
        const uint32_t dataSize = rate * blockAlign;
        std::vector<uint8_t> bytes;
        bytes.insert (bytes.end(), { 'R', 'I', 'F', 'F' });
        appendLE (bytes, 4 + 24 + 8 + dataSize, 4);
        bytes.insert (bytes.end(), { 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ' });
        appendLE (bytes, 16, 4);
        appendLE (bytes, 1, 2);
        appendLE (bytes, 2, 2);
        appendLE (bytes, rate, 4);
        appendLE (bytes, rate * blockAlign, 4);
        appendLE (bytes, blockAlign, 2);
        appendLE (bytes, 24, 2);
        bytes.insert (bytes.end(), { 'd', 'a', 't', 'a' });
        appendLE (bytes, dataSize, 4);
        for (uint32_t i = 0; i < rate; ++i)
            for (int channel = 0; channel < 2; ++channel)
            {
                const double value = 0.9 * std::exp (-i / 2000.0) * std::sin (0.01 * i * (channel + 1));
                appendLE (bytes, static_cast<uint32_t> (static_cast<int32_t> (value * 8388607.0)), 3);
            }

        if (FILE* file = std::fopen (_path.c_str(), "wb"))
        {
            std::fwrite (bytes.data(), 1, bytes.size(), file);
            std::fclose (file);
        }
    }
    ~WorstCaseFile() { std::filesystem::remove (_path); }

    const char* path() const { return _path.c_str(); }

private:
    std::string _path;
};
} // namespace

// The whole import of the worst case: read, convert both channels to 48000 Hz, write 2048 floats.
static void importStereo192kHz24BitSecond (benchmark::State& state)
{
    const WorstCaseFile file;
    std::vector<float> samples (2048);

    for (auto _ : state)
    {
        const Result result = importCabinetImpulse (file.path(), samples.data());
        if (! result.ok)
            state.SkipWithError ("import failed");
        benchmark::DoNotOptimize (samples.data());
    }
}
BENCHMARK (importStereo192kHz24BitSecond)->Unit (benchmark::kMillisecond);

// Reading and decoding alone, to show where the import's time goes.
static void readStereo192kHz24BitSecond (benchmark::State& state)
{
    const WorstCaseFile file;

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
