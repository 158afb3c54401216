#include "IOUtils.h"
#include "KorvantalDataFile.h"

#include <algorithm>
#include <benchmark/benchmark.h>

using namespace Korvantal;
using namespace Korvantal::KorvantalData;

namespace
{
FullTovarekMk2Preset fullPreset()
{
    FullTovarekMk2Preset preset;
    for (uint32_t id = 0; id < kPresetParamPairs; ++id)
        preset.parameters[id * 2] = static_cast<float> (id) * 0.25f;
    for (auto& channel : preset.cabinet.impulse)
        for (size_t i = 0; i < channel.size(); ++i)
            channel[i] = 1.0f / static_cast<float> (i + 1);
    preset.cabinet.name = "Bench Cab";
    preset.ampNameAndID = { 7, "Bench Amp" };
    return preset;
}

std::string presetFileText()
{
    juce::MemoryOutputStream memory;
    OutStreamWrapper out (&memory);
    writeArchivePreset (fullPreset(), out, 3);
    return memory.toString().toStdString();
}

// An amp-model file laid out like the ones the program carries: a size line before the first
// segment only, no checksum lines; 4134 lines, about 45 KB.
std::string ampModelText()
{
    const size_t sizes[] = { kAmpDataBlockSize, kAmpNameAndIDBlockSize, kCabinetIRBlockSize, kFinishingFilterBlockSize };
    std::string text = "# File Type: Amp_Model data, Index = 5\n\nData Segment 0: 4096 bytes excluding CRC\n\n";
    uint32_t word = 0x3F000000;
    for (size_t s = 0; s < 4; ++s)
    {
        text += "# Data Segment " + std::to_string (s) + " Start - Do Not Delete\n";
        char line[16];
        for (size_t w = 0; w < sizes[s] / 4; ++w)
        {
            std::snprintf (line, sizeof (line), "0x%08x\n", word);
            text += line;
            word = word * 1664525u + 1013904223u;
        }
        text += "# Data Segment " + std::to_string (s) + " End - Do Not Delete\n";
        if (s < 3)
            text += "\n";
    }
    text += "\n\n\n\n\n\n";
    return text;
}

size_t countLines (const std::string& text)
{
    return static_cast<size_t> (std::count (text.begin(), text.end(), '\n'));
}
} // namespace

// Export of one preset: the four-segment file into memory through the stream adapter.
static void writePresetFile (benchmark::State& state)
{
    const FullTovarekMk2Preset preset = fullPreset();
    size_t bytes = 0;

    for (auto _ : state)
    {
        juce::MemoryOutputStream memory (40000);
        OutStreamWrapper out (&memory);
        writeArchivePreset (preset, out, 3);
        bytes = memory.getDataSize();
        benchmark::DoNotOptimize (memory.getData());
    }

    state.SetBytesProcessed (static_cast<int64_t> (state.iterations() * bytes));
    state.counters["fileBytes"] = static_cast<double> (bytes);
}
BENCHMARK (writePresetFile)->Unit (benchmark::kMicrosecond);

// Import of one preset: the four-segment file from memory through the stream adapter.
static void readPresetFile (benchmark::State& state)
{
    const std::string text = presetFileText();

    for (auto _ : state)
    {
        juce::MemoryInputStream memory (text.data(), text.size(), false);
        InStreamWrapper in (&memory);
        FullTovarekMk2Preset preset;
        uint32_t index = 0;
        readArchivePreset (in, preset, &index);
        benchmark::DoNotOptimize (preset.parameters.size());
    }

    state.SetBytesProcessed (static_cast<int64_t> (state.iterations() * text.size()));
    state.counters["fileLines"] = static_cast<double> (countLines (text));
}
BENCHMARK (readPresetFile)->Unit (benchmark::kMicrosecond);

// Parsing an amp-model-sized data file (target: under 1 ms).
static void parseAmpModelDataFile (benchmark::State& state)
{
    const std::string text = ampModelText();

    for (auto _ : state)
    {
        juce::MemoryInputStream memory (text.data(), text.size(), false);
        InStreamWrapper in (&memory);
        DataFile file;
        readDataFile (in, file);
        benchmark::DoNotOptimize (file.segments.data());
    }

    state.SetBytesProcessed (static_cast<int64_t> (state.iterations() * text.size()));
    state.counters["fileLines"] = static_cast<double> (countLines (text));
    state.counters["fileBytes"] = static_cast<double> (text.size());
}
BENCHMARK (parseAmpModelDataFile)->Unit (benchmark::kMicrosecond);

// The same file read into an Amp, as at start-up for each stock amp model.
static void readAmpModelFile (benchmark::State& state)
{
    const std::string text = ampModelText();

    for (auto _ : state)
    {
        juce::MemoryInputStream memory (text.data(), text.size(), false);
        InStreamWrapper in (&memory);
        Amp amp;
        readAmpFile (in, amp, nullptr);
        benchmark::DoNotOptimize (amp.data.parameters.size());
    }

    state.SetBytesProcessed (static_cast<int64_t> (state.iterations() * text.size()));
}
BENCHMARK (readAmpModelFile)->Unit (benchmark::kMicrosecond);
