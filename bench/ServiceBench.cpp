// The task queue on its own, the service's parameter model, and the service driving the
// simulated unit through the real device manager, transport and protocol.
#include "TaskQueue.h"
#include "TovarekMk2EditorService.h"
#include "UnitConnection.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <memory>
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

namespace
{
using Service = TovarekMk2::TovarekMk2EditorService;

// A service attached to a simulated unit, idle after its first refresh; counts what the
// listener hears so a benchmark can wait for it.
class AttachedService
{
public:
    AttachedService()
    {
        SimHid::Bus::instance().reset();
        _connection = std::make_unique<SimUnit::UnitConnection>();

        Service::Timing timing;
        timing.settleDelay = std::chrono::milliseconds (0);
        _service = std::make_unique<Service> (nullptr, timing);

        _listener.dataRefreshed = [this] { _refreshes.increment(); };
        _listener.parameterValueChanged = [this] (TovarekMk2ParamID id, const auto&)
        {
            (id == kParamStatusLevel ? _statusReports : _parameters).increment();
        };
        _service->addListener (&_listener);
        _service->setProtocol (&_connection->protocol());
        _statusReports.waitFor (++_statusSeen); // the first refresh ends with the unit's status
    }

    ~AttachedService()
    {
        _service->removeListener (&_listener);
        _service.reset(); // detaches before the connection goes
        _connection.reset();
    }

    Service& service() { return *_service; }
    SimUnit::SimulatedUnit& unit() { return _connection->unit(); }
    void waitForParameters (int64_t count) { _parameters.waitFor (count); }
    void waitForStatusReport() { _statusReports.waitFor (++_statusSeen); }

private:
    std::unique_ptr<SimUnit::UnitConnection> _connection;
    std::unique_ptr<Service> _service;
    Service::Listener _listener;
    Counter _refreshes, _parameters, _statusReports;
    int64_t _statusSeen = 0;
};
} // namespace

// A knob turn in the editor: starter, queue, worker, one set-parameter packet, listener.
static void BM_ServiceSetParameter (benchmark::State& state)
{
    AttachedService attached;
    int64_t sent = 0;

    for (auto _ : state)
    {
        attached.service().setParameterValue (kParamReverbDecay, { TovarekMk2::TovarekMk2ParamMap::kFloat, 0.5 });
        attached.waitForParameters (++sent);
    }
}
BENCHMARK (BM_ServiceSetParameter)->UseRealTime();

// A knob turned on the unit, until the service's listener hears of it.
static void BM_ServiceKnobReportFromTheUnit (benchmark::State& state)
{
    AttachedService attached;
    int64_t reported = 0;

    for (auto _ : state)
    {
        attached.unit().turnKnob (kParamReverbDecay, 0.25f);
        attached.waitForParameters (++reported);
    }
}
BENCHMARK (BM_ServiceKnobReportFromTheUnit)->UseRealTime();

// The refresh without device checks: globals, the edit buffer, six slot names, then the status.
static void BM_ServiceRefresh (benchmark::State& state)
{
    AttachedService attached;

    for (auto _ : state)
    {
        attached.service().beginRefreshAll (false);
        attached.waitForStatusReport();
    }
}
BENCHMARK (BM_ServiceRefresh)->Unit (benchmark::kMillisecond)->UseRealTime();
