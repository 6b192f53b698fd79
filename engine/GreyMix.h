#pragma once
// Turning decoded rows of colour pixels into plane values.

#include <cstdint>

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
/// True when the machine's long double has the 64-bit significand the mix needs.
bool HaveNativeExtended();
} // namespace grey_detail
