#pragma once
// The grey mix: turning colour pixels, one at a time or decoded rows of them, into
// plane values.

#include "image/Pixel.h"

#include <cstdint>

/// The grey mix 0.3 R + 0.59 G + 0.11 B, evaluated as ((r·0.3 + g·0.59) + b·0.11) in
/// binary floating point with a 64-bit significand and rounded to the nearest
/// integer, ties to even.
std::uint8_t GreyValue(const TPixelTriple& pixel);
std::uint8_t GreyValue(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

/// One channel of a row of four-byte pixels (red, green, blue, filler): 0 red,
/// 1 green, 2 blue.
void ChannelRow(const std::uint8_t* rgbx, std::uint8_t* out, std::int32_t width, int channel);

/// GreyValue of every pixel of a row of four-byte pixels (red, green, blue, filler).
void GreyRow(const std::uint8_t* rgbx, std::uint8_t* out, std::int32_t width);

/// Grey pixels of a 24-bit bitmap row: every value as blue, green and red.
void GreyToBgr(const std::uint8_t* values, std::uint8_t* out, std::int32_t width);

namespace grey_detail {
/// The grey mix of a pixel whose decimal mix lies exactly halfway between two
/// integers, where only the binary arithmetic decides: in the machine's own
/// extended format, and emulated with integers for machines without it.
std::uint8_t HalfwayNative(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
std::uint8_t HalfwayEmulated(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
} // namespace grey_detail
