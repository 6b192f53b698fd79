#pragma once
// Splitting work over threads, for loops whose parts are independent.

#include <cstdint>
#include <functional>

/// The number of threads a setting of 0 ("all cores") stands for: at least 1.
int AllCores();

/// Threads to use for a setting: the setting itself, or AllCores() for 0 or less.
int ThreadsFor(int setting);

/// Splits [0, count) into `bands` consecutive bands of nearly equal size and runs
/// body(band, begin, end) for each, on up to `threads` threads (the calling thread
/// among them). Returns when all have ended. When bodies raise, the exception of the
/// lowest band is raised again; the others are dropped.
void ForEachBand(std::int32_t count, int bands, int threads,
                 const std::function<void(int band, std::int32_t begin, std::int32_t end)>& body);
