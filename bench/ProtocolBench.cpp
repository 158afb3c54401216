// Request/answer rates through the real device manager, transport and protocol against the
// simulated unit: (a) with no delay, (b) a full read of every preset and the globals with the
// unit's 1 ms per report, compared with the ideal of one report delay per exchange.
#include "KorvantalProtocol.h"
#include "UnitConnection.h"

#include <benchmark/benchmark.h>

using namespace Korvantal;
using namespace SimUnit;

namespace
{
constexpr auto kFrame = std::chrono::microseconds (1000);
constexpr uint32_t kPresetIndexes = 7;

bool readEverything (KorvantalProtocol& protocol)
{
    KorvantalData::ParameterMap globals;
    bool ok = protocol.readGlobals (globals).ok;

    for (uint32_t index = 0; ok && index < kPresetIndexes; ++index)
    {
        KorvantalData::FullTovarekMk2Preset preset;
        ok = protocol.readPreset (index, preset.parameters).ok
             && protocol.readAmpData (index, preset.ampData).ok
             && protocol.readFinishingFilter (index, preset.finishingFilter).ok
             && protocol.readAmpNameAndID (index, preset.ampNameAndID).ok
             && protocol.readCabData (index, preset.cabinet.impulse).ok
             && protocol.readCabName (index, preset.cabinet.name).ok;
    }

    return ok;
}
} // namespace

static void pingTransactions (benchmark::State& state)
{
    SimHid::Bus::instance().reset();
    UnitConnection connection;
    bool alive = false;

    for (auto _ : state)
        if (! connection.protocol().ping (alive).ok || ! alive)
            state.SkipWithError ("ping failed");

    state.SetItemsProcessed (state.iterations());
    state.counters["transactions/s"] = benchmark::Counter (static_cast<double> (state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK (pingTransactions)->UseRealTime();

static void blockReadTransactions (benchmark::State& state)
{
    SimHid::Bus::instance().reset();
    UnitConnection connection;
    KorvantalData::Impulse impulse {};
    size_t exchanges = 0;

    for (auto _ : state)
    {
        connection.unit().clearHostPackets();

        if (! connection.protocol().readCabData (1, impulse).ok)
            state.SkipWithError ("read failed");

        exchanges += connection.unit().hostPackets().size();
    }

    state.counters["exchanges/s"] = benchmark::Counter (static_cast<double> (exchanges), benchmark::Counter::kIsRate);
}
BENCHMARK (blockReadTransactions)->UseRealTime();

static void fullReadWithOneMillisecondFrames (benchmark::State& state)
{
    SimHid::Bus::instance().reset();
    UnitOptions options;
    options.reportDelay = kFrame;
    UnitConnection connection (options);
    size_t exchanges = 0;
    double seconds = 0;

    for (auto _ : state)
    {
        connection.unit().clearHostPackets();
        const auto start = std::chrono::steady_clock::now();

        if (! readEverything (connection.protocol()))
            state.SkipWithError ("read failed");

        seconds += std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count();
        // Every packet of a read is one request answered by exactly one report.
        exchanges += connection.unit().hostPackets().size();
    }

    const double ideal = static_cast<double> (exchanges) * std::chrono::duration<double> (kFrame).count();
    state.counters["exchanges"] = static_cast<double> (exchanges) / static_cast<double> (state.iterations());
    state.counters["ratio_to_ideal"] = seconds / ideal;
    state.counters["overhead_us_per_exchange"] = (seconds - ideal) / static_cast<double> (exchanges) * 1e6;
}
BENCHMARK (fullReadWithOneMillisecondFrames)->Iterations (3)->Unit (benchmark::kMillisecond)->UseRealTime();
