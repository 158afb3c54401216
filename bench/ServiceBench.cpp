#include "TaskQueue.h"
#include "TovarekMk2EditorService.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>

using Korvantal::Result;
using Korvantal::TaskQueue;

namespace
{
// Counts finished tasks so the benchmark thread can wait for the worker.
class Counter
{
public:
    void increment()
    {
        std::lock_guard<std::mutex> lock (_mutex);
        ++_count;
        _changed.notify_all();
    }

    void waitFor (int64_t count)
    {
        std::unique_lock<std::mutex> lock (_mutex);
        _changed.wait (lock, [&] { return _count >= count; });
    }

private:
    std::mutex _mutex;
    std::condition_variable _changed;
    int64_t _count = 0;
};
} // namespace

// One task from push to the end of its body: the worker's wake-up latency.
static void BM_TaskQueueRoundTrip (benchmark::State& state)
{
    TaskQueue queue;
    Counter done;
    int64_t pushed = 0;

    for (auto _ : state)
    {
        queue.push ([&] (TaskQueue::Task&) { done.increment(); return Result::success; }, nullptr);
        done.waitFor (++pushed);
    }
}
BENCHMARK (BM_TaskQueueRoundTrip);

// A burst of tasks pushed at once and run back to back.
static void BM_TaskQueueBurst (benchmark::State& state)
{
    TaskQueue queue;
    Counter done;
    int64_t pushed = 0;
    const int64_t burst = state.range (0);

    for (auto _ : state)
    {
        for (int64_t i = 0; i < burst; ++i)
            queue.push ([&] (TaskQueue::Task&) { done.increment(); return Result::success; }, nullptr);

        pushed += burst;
        done.waitFor (pushed);
    }

    state.SetItemsProcessed (state.iterations() * burst);
}
BENCHMARK (BM_TaskQueueBurst)->Arg (1000);

// The getter every bound control calls on each refresh pass of the user interface.
static void BM_ServiceGetParameterValue (benchmark::State& state)
{
    TovarekMk2::TovarekMk2EditorService service (nullptr);
    TovarekMk2::TovarekMk2ParamMap::ParameterValue value;

    for (auto _ : state)
    {
        service.getParameterValue (kParamReverbDecay, value);
        benchmark::DoNotOptimize (value);
    }
}
BENCHMARK (BM_ServiceGetParameterValue);

// Normalising a full preset, as an import does before it sends the preset.
static void BM_ServiceNormalizePreset (benchmark::State& state)
{
    TovarekMk2::TovarekMk2EditorService service (nullptr);
    Korvantal::KorvantalData::FullTovarekMk2Preset preset;

    for (uint32_t id = 0; id < 128; ++id)
        preset.parameters[id] = 0.5f;

    for (auto _ : state)
    {
        auto copy = preset;
        service.normalizePresetParameters (copy);
        benchmark::DoNotOptimize (copy.parameters);
    }
}
BENCHMARK (BM_ServiceNormalizePreset);
