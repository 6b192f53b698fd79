#pragma once
// One pixel of a 24-bit image.

#include <cstdint>

/// One pixel's bytes in memory order.
struct TPixelTriple {
    std::uint8_t Blue = 0;
    std::uint8_t Green = 0;
    std::uint8_t Red = 0;
};
