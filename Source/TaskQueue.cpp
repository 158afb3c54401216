#include "TaskQueue.h"

namespace Korvantal
{

TaskQueue::Task::Task (Body body, Completion whenDone)
    : run (std::move (body)), completion (std::move (whenDone))
{
}

TaskQueue::Task::Task (const Task& other)
    : run (other.run), completion (other.completion), cancelled (other.isCancelled())
{
}

TaskQueue::Task::Task (Task&& other) noexcept
    : run (std::move (other.run)), completion (std::move (other.completion)), cancelled (other.isCancelled())
{
}

TaskQueue::Task& TaskQueue::Task::operator= (const Task& other)
{
    run = other.run;
    completion = other.completion;
    cancelled.store (other.isCancelled(), std::memory_order_relaxed);
    return *this;
}

TaskQueue::Task& TaskQueue::Task::operator= (Task&& other) noexcept
{
    run = std::move (other.run);
    completion = std::move (other.completion);
    cancelled.store (other.isCancelled(), std::memory_order_relaxed);
    return *this;
}

TaskQueue::TaskQueue()
    : _worker ([this] { workerLoop(); })
{
}

TaskQueue::~TaskQueue()
{
    {
        std::lock_guard<std::mutex> lock (_mutex);
        _running = false;
    }

    cancelAll();
    _condition.notify_all();
    _worker.join();
}

void TaskQueue::push (Task::Body body, Task::Completion completion)
{
    std::lock_guard<std::mutex> lock (_mutex);
    _queue.emplace_back (std::move (body), std::move (completion));
    _condition.notify_all();
}

void TaskQueue::cancelAll()
{
    std::lock_guard<std::mutex> lock (_mutex);

    for (auto& task : _queue)
        task.cancelled.store (true, std::memory_order_relaxed);

    if (_current != nullptr)
        _current->cancelled.store (true, std::memory_order_relaxed);
}

void TaskQueue::workerLoop()
{
    std::unique_lock<std::mutex> lock (_mutex);

    for (;;)
    {
        // The predicate is tested under the mutex that push holds while it notifies,
        // so a push can never fall between the test and the wait.
        while (_queue.empty())
        {
            if (! _running)
                return;

            _condition.wait (lock);
        }

        // The worker runs its own copy, so a cancellation between here and the body's
        // start still reaches it through _current.
        Task task (std::move (_queue.front()));
        _queue.pop_front();
        _current = &task;
        lock.unlock();

        if (! task.isCancelled())
            task.run (task); // the Result is dropped: a body reports failures itself

        if (task.completion)
            task.completion();

        lock.lock();
        _current = nullptr;
        task.run = nullptr;
        task.completion = nullptr;
    }
}

} // namespace Korvantal
