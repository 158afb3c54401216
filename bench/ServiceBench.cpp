// The task queue on its own, the service's parameter model, and the service driving the
// simulated unit through the real device manager, transport and protocol.
#include "TaskQueue.h"
#include "TovarekMk2EditorService.h"
#include "UnitConnection.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

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
    void waitForRefresh() { _refreshes.waitFor (++_refreshesSeen); }
    void waitForStatusReport() { _statusReports.waitFor (++_statusSeen); }

private:
    std::unique_ptr<SimUnit::UnitConnection> _connection;
    std::unique_ptr<Service> _service;
    Service::Listener _listener;
    Counter _refreshes, _parameters, _statusReports;
    int64_t _statusSeen = 0;
    int64_t _refreshesSeen = 1; // the first refresh
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

namespace
{
constexpr auto kFrame = std::chrono::milliseconds (1);

// Times whole device tasks against the ideal of one report delay per exchange: every packet the
// host sends in a backup or restore is answered by exactly one report from the unit.
class ExchangeClock
{
public:
    template <typename Body>
    void time (SimUnit::SimulatedUnit& unit, Body&& body)
    {
        unit.clearHostPackets();
        const auto start = std::chrono::steady_clock::now();
        body();
        _seconds += std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count();
        _exchanges += unit.hostPackets().size();
    }

    void report (benchmark::State& state) const
    {
        const double ideal = static_cast<double> (_exchanges) * std::chrono::duration<double> (kFrame).count();
        state.counters["exchanges"] = static_cast<double> (_exchanges) / static_cast<double> (state.iterations());
        state.counters["ratio_to_ideal"] = _seconds / ideal;
        state.counters["overhead_us_per_exchange"] = (_seconds - ideal) / static_cast<double> (_exchanges) * 1e6;
    }

private:
    double _seconds = 0;
    size_t _exchanges = 0;
};

// Starts a task once the worker has finished the re-read that a backup or restore may leave queued.
bool startWhenIdle (AttachedService& attached, const std::function<Result()>& start)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (10);

    while (std::chrono::steady_clock::now() < deadline)
    {
        if (attached.service().getState() == Service::Idle && start().ok)
            return true;
        std::this_thread::sleep_for (std::chrono::microseconds (100));
    }
    return false;
}

TovarekMk2::TovarekMk2EditorService::TovarekMk2Archive backUp (AttachedService& attached)
{
    Counter done;
    TovarekMk2::TovarekMk2EditorService::TovarekMk2Archive archive;
    const bool started = startWhenIdle (attached, [&]
    {
        return attached.service().beginBackup (nullptr, [&] (const auto& result)
        {
            archive = result;
            done.increment();
        });
    });

    if (started)
        done.waitFor (1);
    return archive;
}
} // namespace

// A full backup (the globals, then seven presets of six blocks each) with the unit's 1 ms per report.
static void BM_ServiceBackupWithOneMillisecondFrames (benchmark::State& state)
{
    AttachedService attached;
    attached.unit().setReportDelay (kFrame);
    ExchangeClock clock;

    for (auto _ : state)
        clock.time (attached.unit(), [&]
        {
            if (backUp (attached).presets.size() != 7)
                state.SkipWithError ("backup failed");
        });

    clock.report (state);
}
BENCHMARK (BM_ServiceBackupWithOneMillisecondFrames)->Iterations (3)->Unit (benchmark::kMillisecond)->UseRealTime();

// A full restore of that backup, up to the re-read of the edit buffer that ends it.
static void BM_ServiceRestoreWithOneMillisecondFrames (benchmark::State& state)
{
    AttachedService attached;
    const auto archive = backUp (attached);
    attached.unit().setReportDelay (kFrame);
    ExchangeClock clock;

    for (auto _ : state)
        clock.time (attached.unit(), [&]
        {
            if (! startWhenIdle (attached, [&] { return attached.service().beginRestore (archive, nullptr); }))
                state.SkipWithError ("restore refused");
            else
                attached.waitForRefresh();
        });

    clock.report (state);
}
BENCHMARK (BM_ServiceRestoreWithOneMillisecondFrames)->Iterations (3)->Unit (benchmark::kMillisecond)->UseRealTime();
