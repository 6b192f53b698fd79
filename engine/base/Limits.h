#pragma once
// The sizes a picture and a stack may have.

#include <cstdint>

/// Most pixels a plane, a photograph, a code matrix or a bitmap may have (2^28,
/// 16384 × 16384).
inline constexpr std::int64_t kMaxPlanePixels = std::int64_t(1) << 28;
/// Most planes a stack may hold; plane indexes are bytes.
inline constexpr std::int32_t kMaxPlanes = 256;

/// Whether a picture of width × height pixels may be held: neither side negative
/// and no more than kMaxPlanePixels pixels.
constexpr bool IsPictureSize(std::int64_t width, std::int64_t height) {
    return width >= 0 && height >= 0 && (width == 0 || height <= kMaxPlanePixels / width);
}
