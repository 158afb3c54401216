#include "StockAmpTable.h"

#include <benchmark/benchmark.h>

// The start-up cost of the carried amp models: all 26 files parsed, then freed.
static void parseAllStockAmpModels (benchmark::State& state)
{
    for (auto _ : state)
    {
        TovarekMk2::parseAllStockAmps();
        benchmark::DoNotOptimize (TovarekMk2::StockAmpTable[25].amp);
        TovarekMk2::freeAllStockAmps();
    }
}
BENCHMARK (parseAllStockAmpModels)->Unit (benchmark::kMillisecond);

// What a later choice costs once the models are parsed: one deep copy.
static void copyOneStockAmpModel (benchmark::State& state)
{
    TovarekMk2::parseAllStockAmps();
    Korvantal::KorvantalData::Amp amp;
    for (auto _ : state)
        benchmark::DoNotOptimize (TovarekMk2::copyStockAmp (11, amp));
    TovarekMk2::freeAllStockAmps();
}
BENCHMARK (copyOneStockAmpModel)->Unit (benchmark::kMicrosecond);
