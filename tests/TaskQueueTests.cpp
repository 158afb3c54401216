#include "TaskQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using Korvantal::Result;
using Korvantal::TaskQueue;

namespace
{
constexpr auto kWaitLimit = std::chrono::seconds (10);

// A record of events from several threads, with bounded waits for a given count.
class EventLog
{
public:
    void add (int event)
    {
        std::lock_guard<std::mutex> lock (_mutex);
        _events.push_back (event);
        _changed.notify_all();
    }

    bool waitForCount (size_t count)
    {
        std::unique_lock<std::mutex> lock (_mutex);
        return _changed.wait_for (lock, kWaitLimit, [&] { return _events.size() >= count; });
    }

    std::vector<int> events()
    {
        std::lock_guard<std::mutex> lock (_mutex);
        return _events;
    }

private:
    std::mutex _mutex;
    std::condition_variable _changed;
    std::vector<int> _events;
};

// A one-shot gate that one thread opens and others wait on, with a bounded wait.
class Gate
{
public:
    void open() { _promise.set_value(); }
    bool wait() { return _opened.wait_for (kWaitLimit) == std::future_status::ready; }

private:
    std::promise<void> _promise;
    std::shared_future<void> _opened = _promise.get_future().share();
};

// Runs the action on its own thread and fails the whole program if it does not return in time,
// since a hung destructor cannot be recovered from inside the test.
void expectReturnsInTime (std::function<void()> action)
{
    auto done = std::async (std::launch::async, std::move (action));
    if (done.wait_for (kWaitLimit) == std::future_status::ready)
        return done.get();
    std::fprintf (stderr, "Action did not return within the time limit\n");
    std::fflush (stderr);
    std::_Exit (1);
}

TaskQueue::Task::Body recording (EventLog& log, int event)
{
    return [&log, event] (TaskQueue::Task&)
    {
        log.add (event);
        return Result::success;
    };
}

// A body that reports it has started, then holds the worker until the gate opens.
TaskQueue::Task::Body blocking (Gate& started, Gate& release)
{
    return [&started, &release] (TaskQueue::Task&)
    {
        started.open();
        release.wait();
        return Result::success;
    };
}
} // namespace

// Each pusher's tasks run in the order it pushed them.
TEST (TaskQueue, runsOneTaskAtATimeInPushOrderOnlyOnTheWorkerThread)
{
    TaskQueue queue;
    EventLog log;
    std::atomic<int> active { 0 };
    int maxActive = 0;
    std::mutex idsMutex; // guards maxActive and ids
    std::vector<std::thread::id> ids;

    std::vector<std::thread> pushers;

    for (int t = 0; t < 4; ++t)
        pushers.emplace_back ([&, t]
        {
            for (int i = 0; i < 50; ++i)
                queue.push ([&, t, i] (TaskQueue::Task&)
                {
                    const int now = ++active;
                    {
                        std::lock_guard<std::mutex> lock (idsMutex);
                        maxActive = std::max (maxActive, now);
                        ids.push_back (std::this_thread::get_id());
                    }
                    --active;
                    log.add (t * 50 + i);
                    return Result::success;
                }, nullptr);
        });

    for (auto& t : pushers)
        t.join();

    ASSERT_TRUE (log.waitForCount (200));
    std::lock_guard<std::mutex> lock (idsMutex);
    EXPECT_EQ (maxActive, 1);
    ASSERT_EQ (ids.size(), 200u);

    for (auto id : ids)
    {
        EXPECT_EQ (id, ids.front());
        EXPECT_NE (id, std::this_thread::get_id());
    }

    std::vector<int> next (4, 0);
    for (int event : log.events())
        EXPECT_EQ (event % 50, next[(size_t) (event / 50)]++) << "pusher " << event / 50;
}

// A failed body's Result is dropped and the queue goes on.
TEST (TaskQueue, callsTheCompletionAfterTheBodyWhateverItsResult)
{
    TaskQueue queue;
    EventLog log;

    testing::internal::CaptureStdout(); // the failure's log line
    queue.push ([&] (TaskQueue::Task&) { log.add (1); return KORVANTAL_ERROR ("Failed on purpose"); }, [&] { log.add (2); });
    queue.push (recording (log, 3), nullptr);
    queue.push (recording (log, 4), [&] { log.add (5); });
    const bool ran = log.waitForCount (5);
    testing::internal::GetCapturedStdout();

    ASSERT_TRUE (ran);
    EXPECT_EQ (log.events(), (std::vector<int> { 1, 2, 3, 4, 5 }));
}

TEST (TaskQueueCancellation, skipsAWaitingCancelledTaskButCallsItsCompletion)
{
    TaskQueue queue;
    EventLog log;
    Gate started, release;

    queue.cancelAll(); // nothing queued, nothing running: changes nothing
    queue.push (blocking (started, release), nullptr);
    ASSERT_TRUE (started.wait());

    queue.push (recording (log, 1), [&] { log.add (2); });
    queue.cancelAll();
    queue.push (recording (log, 3), [&] { log.add (4); });
    release.open();

    ASSERT_TRUE (log.waitForCount (3));
    EXPECT_EQ (log.events(), (std::vector<int> { 2, 3, 4 }));
}

TEST (TaskQueueCancellation, marksTheRunningBodyWhichKeepsRunningUntilItLooks)
{
    TaskQueue queue;
    EventLog log;
    Gate started, release;

    queue.push ([&] (TaskQueue::Task& task)
    {
        log.add (task.isCancelled() ? 1 : 0);
        started.open();
        release.wait();
        log.add (task.isCancelled() ? 1 : 0);
        return Result::success;
    }, [&] { log.add (9); });

    ASSERT_TRUE (started.wait());
    queue.cancelAll();
    release.open();

    ASSERT_TRUE (log.waitForCount (3));
    EXPECT_EQ (log.events(), (std::vector<int> { 0, 1, 9 }));
}

TEST (TaskQueueCancellation, fromACompletionSkipsTheTasksQueuedBeforeIt)
{
    // The first task's completion cancels everything: the second task, still queued, is
    // skipped; the third, pushed after the cancel, runs.
    TaskQueue queue;
    EventLog log;
    Gate started, release;

    queue.push (blocking (started, release), nullptr); // holds the worker until both are queued
    ASSERT_TRUE (started.wait());

    queue.push (recording (log, 1), [&]
    {
        queue.cancelAll();
        queue.push (recording (log, 3), nullptr);
    });
    queue.push (recording (log, 2), nullptr);
    release.open();

    ASSERT_TRUE (log.waitForCount (2));
    EXPECT_EQ (log.events(), (std::vector<int> { 1, 3 }));
}

TEST (TaskQueue, runsATaskPushedByABodyAfterItAndAfterEveryTaskQueuedBefore)
{
    TaskQueue queue;
    EventLog log;
    Gate started, release;

    queue.push ([&] (TaskQueue::Task&)
    {
        started.open();
        release.wait();
        queue.push (recording (log, 3), nullptr);
        log.add (1);
        return Result::success;
    }, nullptr);

    ASSERT_TRUE (started.wait());
    queue.push (recording (log, 2), nullptr);
    release.open();

    ASSERT_TRUE (log.waitForCount (3));
    EXPECT_EQ (log.events(), (std::vector<int> { 1, 2, 3 }));
}

TEST (TaskQueueDestruction, letsTheRunningBodyFinishAndSkipsTheWaitingOnes)
{
    auto queue = std::make_unique<TaskQueue>();
    EventLog log;
    Gate started;

    queue->push ([&] (TaskQueue::Task& task)
    {
        started.open();
        // Runs until the destructor marks it, the only way it learns of the shut-down.
        const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
        while (! task.isCancelled() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        log.add (task.isCancelled() ? 1 : -1);
        return Result::success;
    }, [&] { log.add (2); });

    ASSERT_TRUE (started.wait());

    for (int i = 0; i < 5; ++i)
        queue->push (recording (log, 100 + i), [&log, i] { log.add (10 + i); });

    expectReturnsInTime ([&] { queue.reset(); });

    EXPECT_EQ (log.events(), (std::vector<int> { 1, 2, 10, 11, 12, 13, 14 }));
}

TEST (TaskQueueDestruction, neverHangsWhileTasksArePushedFromOtherThreads)
{
    for (int round = 0; round < 20; ++round)
    {
        auto queue = std::make_unique<TaskQueue>();
        std::atomic<int> completions { 0 };
        std::atomic<int> pushed { 0 };
        Gate pushing;

        std::thread pusher ([&]
        {
            for (int i = 0; i < 200; ++i)
            {
                queue->push ([] (TaskQueue::Task&) { return Result::success; }, [&] { ++completions; });
                ++pushed;
                if (i == 10)
                    pushing.open();
            }
        });

        ASSERT_TRUE (pushing.wait());
        pusher.join();
        expectReturnsInTime ([&] { queue.reset(); });
        // Every task's completion runs, whether its body ran or was skipped.
        EXPECT_EQ (completions.load(), pushed.load());
    }
}

TEST (TaskQueue, neverLosesAWakeUpUnderManyShortPushesAndEndsAtOnceWhenIdle)
{
    auto queue = std::make_unique<TaskQueue>();
    EventLog log;

    // Each task waits for the previous one to finish before the next push, so the worker
    // goes back to waiting between pushes again and again.
    for (int i = 0; i < 2000; ++i)
    {
        queue->push (recording (log, i), nullptr);
        ASSERT_TRUE (log.waitForCount ((size_t) i + 1)) << "task " << i << " was never run";
    }
    expectReturnsInTime ([&] { queue.reset(); });
}
