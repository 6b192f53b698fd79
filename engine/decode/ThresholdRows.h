#pragma once
// Row-at-a-time forms of the per-pixel reads of a stack, for the loops over whole
// pictures. Each gives, for every column of a row, exactly what the per-pixel
// operation gives (TPicEval::Threshold, TPics::GetValue), including the positions
// outside a plane or a stack that is smaller than the width asked for.

#include "input/Pics.h"

#include <cstdint>
#include <vector>

/// Thresholds of one row at a time over width columns, as whole numbers
/// (PixelThreshold): plane 2 − tolerance on a lit dot, else 256. One object per thread.
class TThresholdRows {
public:
    TThresholdRows(const TPics& pics, std::int32_t width, int minDif, int tolerance)
        : pics_(pics), width_(width), minDif_(minDif), tolerance_(tolerance),
          row_(std::size_t(width)) {}

    /// Width thresholds of row; valid until the next call.
    const std::int16_t* Row(std::int32_t row);

private:
    const TPics& pics_;
    std::int32_t width_;
    int minDif_, tolerance_;
    std::vector<std::int16_t> row_;
};

/// Values of one plane, one row at a time, over width columns: the plane's bytes, 0
/// beyond the plane or when the plane does not exist. One object per thread.
class TValueRows {
public:
    TValueRows(const TPics& pics, std::uint8_t index, std::int32_t width);

    /// Width values of row; valid until the next call.
    const std::uint8_t* Row(std::int32_t row);

private:
    const TPic* plane_ = nullptr;
    std::int32_t width_;
    std::vector<std::uint8_t> padded_;
};
