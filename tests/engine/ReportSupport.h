#pragma once
// What the report tests share: planes of random bytes and counting a text's parts.

#include "image/Plane.h"

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

/// A plane of width × height random bytes drawn from seed.
inline TPic Plane(int width, int height, std::uint32_t seed) {
    TPic plane;
    plane.SetSize(width, height);
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < plane.Data.size(); ++i)
        plane.Data.data()[i] = std::uint8_t(random());
    return plane;
}

/// How often part occurs in text, overlapping occurrences included.
inline std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}
