#include "Parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

int AllCores() {
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

int ThreadsFor(int setting) {
    return setting > 0 ? setting : AllCores();
}

void ForEachBand(std::int32_t count, int bands, int threads,
                 const std::function<void(int band, std::int32_t begin, std::int32_t end)>& body) {
    bands = std::max(1, bands);
    threads = std::clamp(threads, 1, bands);
    auto begin = [count, bands](int band) {
        return static_cast<std::int32_t>(std::int64_t(count) * band / bands);
    };
    std::vector<std::exception_ptr> errors(static_cast<std::size_t>(bands));
    std::atomic<int> next{0};
    auto work = [&] {
        for (int band; (band = next.fetch_add(1)) < bands;) {
            try {
                body(band, begin(band), begin(band + 1));
            } catch (...) {
                errors[std::size_t(band)] = std::current_exception();
            }
        }
    };
    {
        std::vector<std::jthread> helpers;
        for (int i = 1; i < threads; ++i) {
            try {
                helpers.emplace_back(work);
            } catch (const std::system_error&) {
                break; // no more threads to be had: the ones there share the bands
            }
        }
        work();
    }
    for (const std::exception_ptr& error : errors)
        if (error)
            std::rethrow_exception(error);
}
