#pragma once
// Row-at-a-time forms of the evaluator's per-pixel reads, for the loops over whole
// pictures. Each gives, for every column of a row, exactly what the per-pixel
// operation gives (TPicEval::Threshold, TPics::GetValue), including the positions
// outside a plane or a stack that is smaller than the evaluator's size.

#include "pipeline/Evaluator.h"

#include <cstdint>
#include <vector>

/// Thresholds of one row at a time, as whole numbers: plane 2 − Tolerance on a lit
/// dot, else 256. One object per thread.
class TThresholdRows {
public:
    explicit TThresholdRows(const TPicEval& eval) : eval_(eval), row_(std::size_t(eval.Width)) {}

    /// Width thresholds of row; valid until the next call.
    const std::int16_t* Row(std::int32_t row);

private:
    const TPicEval& eval_;
    std::vector<std::int16_t> row_;
};

/// Values of one plane, one row at a time, over the evaluator's width: the plane's
/// bytes, 0 beyond the plane or when the plane does not exist. One object per thread.
class TValueRows {
public:
    TValueRows(const TPicEval& eval, std::uint8_t index);

    /// Width values of row; valid until the next call.
    const std::uint8_t* Row(std::int32_t row);

private:
    const TPic* plane_ = nullptr;
    std::int32_t width_;
    std::vector<std::uint8_t> padded_;
};
