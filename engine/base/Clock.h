#pragma once
// Measuring how long work takes.

#include <chrono>

/// The seconds from start until now, on the steady clock.
inline double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
