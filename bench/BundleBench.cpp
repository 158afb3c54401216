#include "BackupArchive.h"

#include <benchmark/benchmark.h>

using namespace Korvantal;
using namespace Korvantal::KorvantalData;

namespace
{
constexpr uint32_t kBackupPresets = 7;

// A full preset: 512 parameters and a cabinet impulse with no zero samples.
FullTovarekMk2Preset fullPreset (uint32_t seed)
{
    FullTovarekMk2Preset preset;
    for (uint32_t id = 0; id < kPresetParamPairs; ++id)
        preset.parameters[id * 2 + seed] = static_cast<float> (id) * 0.25f + static_cast<float> (seed);
    for (auto& channel : preset.cabinet.impulse)
        for (size_t i = 0; i < channel.size(); ++i)
            channel[i] = 1.0f / static_cast<float> (i + 1 + seed);
    preset.cabinet.name = "Bench Cab";
    preset.ampNameAndID = { 7 + seed, "Bench Amp" };
    return preset;
}

// What a backup writes: the seven presets and the globals, as a bundle file on disk.
juce::File backupBundle()
{
    TovarekMk2Archive archive;
    for (uint32_t index = 0; index < kBackupPresets; ++index)
        archive.presets.push_back ({ index, fullPreset (index) });
    archive.globals = std::make_unique<Globals>();
    for (uint32_t id = 0; id < kGlobalsParamPairs; ++id)
        (*archive.globals)[id] = static_cast<float> (id);

    const juce::File file = juce::File::createTempFile (".t2u");
    if (! writeBackupArchive (archive, file).ok)
        std::abort();
    return file;
}
} // namespace

// Restore's first step: reading a backup bundle of seven presets and the globals from its file
// (target: under 10 ms).
static void readBackupBundle (benchmark::State& state)
{
    const juce::File file = backupBundle();

    for (auto _ : state)
    {
        TovarekMk2Archive archive;
        if (! readBackupArchive (file, archive).ok || archive.presets.size() != kBackupPresets)
            state.SkipWithError ("bundle did not read back");
        benchmark::DoNotOptimize (archive.presets.data());
    }

    state.counters["bundleBytes"] = static_cast<double> (file.getSize());
    file.deleteFile();
}
BENCHMARK (readBackupBundle)->Unit (benchmark::kMillisecond);

// Backup's last step: writing that bundle.
static void writeBackupBundle (benchmark::State& state)
{
    TovarekMk2Archive archive;
    for (uint32_t index = 0; index < kBackupPresets; ++index)
        archive.presets.push_back ({ index, fullPreset (index) });
    const juce::File file = juce::File::createTempFile (".t2u");

    for (auto _ : state)
        if (! writeBackupArchive (archive, file).ok)
            state.SkipWithError ("bundle not written");

    file.deleteFile();
}
BENCHMARK (writeBackupBundle)->Unit (benchmark::kMillisecond);
