#pragma once

#include "KorvantalResult.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace Korvantal
{

// Runs device tasks one at a time on its own worker thread, in the order pushed.
//
// Threads: any thread may push and cancel; only the worker runs bodies and completions,
// without the queue's mutex, so a body may push or cancel too. Callers may hold their own
// locks while they push or cancel: nothing in here takes another lock.
class TaskQueue
{
public:
    struct Task
    {
        using Body = std::function<Result (Task&)>;
        using Completion = std::function<void()>;

        Task (Body body, Completion whenDone);
        Task (const Task& other);
        Task (Task&& other) noexcept;
        Task& operator= (const Task& other);
        Task& operator= (Task&& other) noexcept;

        bool isCancelled() const { return cancelled.load (std::memory_order_relaxed); }

        Body run;
        Completion completion; // may be empty; called after the body, also when it was skipped
        // Set by cancelAll, never cleared; the running body reads it without the queue's mutex.
        std::atomic<bool> cancelled { false };
    };

    // Starts the worker thread (a failure to create it propagates as std::system_error).
    TaskQueue();
    // Cancels every task, lets the running body finish, skips the waiting ones (calling their
    // completions) and joins the worker.
    ~TaskQueue();

    TaskQueue (const TaskQueue&) = delete;
    TaskQueue& operator= (const TaskQueue&) = delete;

    // Queues a task behind every task already queued; never waits for it.
    void push (Task::Body body, Task::Completion completion);

    // Marks every queued task and the running one as cancelled. Removes nothing and
    // interrupts nothing: a queued task is skipped at its turn, a running body ends
    // early only if it looks at its flag.
    void cancelAll();

private:
    void workerLoop();

    std::deque<Task> _queue;    // guarded by _mutex; oldest first
    Task* _current = nullptr;   // guarded by _mutex; the worker's copy of the running task
    std::mutex _mutex;
    std::condition_variable _condition;
    bool _running = true;       // guarded by _mutex; false once the destructor begins
    std::thread _worker;        // last, so it starts after every field above exists
};

} // namespace Korvantal
