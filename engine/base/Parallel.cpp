#include "base/Parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

int AllCores() {
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

int ThreadsFor(int setting) {
    return setting > 0 ? setting : AllCores();
}

void ForEachIndex(std::int32_t count, int threads, const std::function<void(std::int32_t)>& task) {
    if (count <= 0)
        return;
    threads = std::clamp<std::int32_t>(threads, 1, count);
    std::atomic<std::int32_t> next{0};
    std::atomic<std::int32_t> firstFailed{count};
    std::mutex errorLock;
    std::exception_ptr error;
    auto work = [&] {
        for (std::int32_t i; (i = next.fetch_add(1)) < count;) {
            if (i > firstFailed.load())
                continue;
            try {
                task(i);
            } catch (...) {
                std::lock_guard lock(errorLock);
                if (i < firstFailed.load()) {
                    firstFailed = i;
                    error = std::current_exception();
                }
            }
        }
    };
    {
        std::vector<std::jthread> helpers;
        for (int t = 1; t < threads; ++t) {
            try {
                helpers.emplace_back(work);
            } catch (const std::system_error&) {
                break; // no more threads to be had: the ones there share the tasks
            }
        }
        work();
    }
    if (error)
        std::rethrow_exception(error);
}

void ForEachBand(std::int32_t count, int bands, int threads,
                 const std::function<void(int band, std::int32_t begin, std::int32_t end)>& body) {
    bands = std::max(1, bands);
    auto begin = [count, bands](int band) {
        return static_cast<std::int32_t>(std::int64_t(count) * band / bands);
    };
    ForEachIndex(bands, threads,
                 [&](std::int32_t band) { body(band, begin(band), begin(band + 1)); });
}

TBackgroundTask::TBackgroundTask(std::function<void(std::stop_token)> task)
    : task_(std::move(task)), thread_([this](std::stop_token stop) {
          try {
              task_(stop);
          } catch (...) {
              error_ = std::current_exception();
          }
          std::lock_guard lock(mutex_);
          over_ = true;
          ended_.notify_all();
      }) {}

void TBackgroundTask::Wait(const std::function<void()>& idle) {
    {
        std::unique_lock lock(mutex_);
        WaitServing(
            lock, ended_, [this] { return over_; }, idle);
    }
    Wait();
}

std::unique_ptr<TBackgroundTask> TryStartTask(std::function<void(std::stop_token)> task) {
    try {
        return std::make_unique<TBackgroundTask>(std::move(task));
    } catch (const std::system_error&) {
        return nullptr;
    }
}

void TBackgroundTask::Wait() {
    if (thread_.joinable())
        thread_.join();
    if (error_)
        std::rethrow_exception(std::exchange(error_, nullptr));
}
