#include "KorvantalData.h"
#include "PresetUpgrade.h"

#include <benchmark/benchmark.h>
#include <vector>

using namespace Korvantal;
using namespace Korvantal::KorvantalData;

namespace
{
ParameterMap fullMap (size_t count)
{
    ParameterMap map;
    for (size_t i = 0; i < count; ++i)
        map[uint32_t (i * 3)] = float (i) * 0.125f;
    return map;
}
} // namespace

// A full 4096-byte preset block: the largest parameter block the unit exchanges.
static void encodePresetParamBlock (benchmark::State& state)
{
    const ParameterMap map = fullMap (kPresetParamPairs);
    std::vector<uint8_t> block (kPresetBlockSize);

    for (auto _ : state)
    {
        encodeParamBlock (map, block.data(), kPresetParamPairs);
        benchmark::DoNotOptimize (block.data());
    }
    state.SetBytesProcessed (int64_t (state.iterations()) * int64_t (kPresetBlockSize));
}
BENCHMARK (encodePresetParamBlock);

static void decodePresetParamBlock (benchmark::State& state)
{
    std::vector<uint8_t> block (kPresetBlockSize);
    encodeParamBlock (fullMap (kPresetParamPairs), block.data(), kPresetParamPairs);
    ParameterMap map;

    for (auto _ : state)
    {
        decodeParamBlock (block.data(), block.size(), map);
        benchmark::DoNotOptimize (map);
    }
    state.SetBytesProcessed (int64_t (state.iterations()) * int64_t (kPresetBlockSize));
}
BENCHMARK (decodePresetParamBlock);

static void encodeAndDecodeAmpData (benchmark::State& state)
{
    AmpData data { fullMap (kAmpDataParamPairs), std::string (255, 'r'), std::string (255, 'c') };
    std::vector<uint8_t> block (kAmpDataBlockSize);
    AmpData decoded;

    for (auto _ : state)
    {
        encodeAmpData (data, block.data());
        decodeAmpData (block.data(), decoded);
        benchmark::DoNotOptimize (decoded);
    }
}
BENCHMARK (encodeAndDecodeAmpData);

static void encodeAndDecodeCabinetIR (benchmark::State& state)
{
    const Impulse impulse = makeUnitImpulse();
    std::vector<uint8_t> block (kCabinetIRBlockSize);
    Impulse decoded {};

    for (auto _ : state)
    {
        encodeCabinetIR (impulse, block.data());
        decodeCabinetIR (block.data(), decoded);
        benchmark::DoNotOptimize (decoded);
    }
}
BENCHMARK (encodeAndDecodeCabinetIR);

static void upgradeOldPreset (benchmark::State& state)
{
    const ParameterMap old = fullMap (200);

    for (auto _ : state)
    {
        ParameterMap map = old;
        upgradePresetParameters (map);
        benchmark::DoNotOptimize (map);
    }
}
BENCHMARK (upgradeOldPreset);
