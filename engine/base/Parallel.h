#pragma once
// Splitting work over threads: independent tasks numbered from 0, and one task run
// beside the calling thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

/// The number of threads a setting of 0 ("all cores") stands for: at least 1.
int AllCores();

/// Threads to use for a setting: the setting itself, or AllCores() for 0 or less.
int ThreadsFor(int setting);

/// Runs task(i) for every i in [0, count) on up to `threads` threads, the calling
/// thread among them (fewer when no more can be started); tasks begin in the order
/// of their numbers. Returns when all have ended. Once a task raises, the tasks
/// with higher numbers that have not begun are skipped, and the exception of the
/// lowest-numbered task that raised is raised again.
void ForEachIndex(std::int32_t count, int threads, const std::function<void(std::int32_t)>& task);

/// Splits [0, count) into `bands` consecutive bands of nearly equal size and runs
/// body(band, begin, end) for each, as ForEachIndex runs its tasks.
void ForEachBand(std::int32_t count, int bands, int threads,
                 const std::function<void(int band, std::int32_t begin, std::int32_t end)>& body);

/// Waits on changed, with lock held, until ready() holds; while it does not, calls
/// idle (when given) about every 0.1 s with the lock released, so that a window can
/// keep repainting.
template <class TReady>
void WaitServing(std::unique_lock<std::mutex>& lock, std::condition_variable& changed, TReady ready,
                 const std::function<void()>& idle) {
    while (!changed.wait_for(lock, std::chrono::milliseconds(100), ready)) {
        if (!idle)
            continue;
        lock.unlock();
        idle();
        lock.lock();
    }
}

/// A task running on a thread of its own while the calling thread goes on.
/// Dropping it asks the task to stop (through its stop token) and waits for it.
class TBackgroundTask {
public:
    /// Starts task. Raises std::system_error when no thread can be started; the task
    /// has then not run.
    explicit TBackgroundTask(std::function<void(std::stop_token)> task);
    TBackgroundTask(const TBackgroundTask&) = delete;
    TBackgroundTask& operator=(const TBackgroundTask&) = delete;
    ~TBackgroundTask() = default;

    /// Waits for the task to end and raises what it raised, if anything.
    void Wait();
    /// Wait, calling idle about every 0.1 s meanwhile (see WaitServing).
    void Wait(const std::function<void()>& idle);

private:
    std::function<void(std::stop_token)> task_;
    std::exception_ptr error_;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool over_ = false;   // under mutex_: the task has returned or raised
    std::jthread thread_; // last: it starts once the rest is ready, and is joined first
};

/// task on a thread of its own, or nullptr when no thread can be started: the
/// caller then does the work itself.
std::unique_ptr<TBackgroundTask> TryStartTask(std::function<void(std::stop_token)> task);
