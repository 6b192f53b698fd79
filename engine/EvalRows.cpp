#include "EvalRows.h"

#include <algorithm>

const std::int16_t* TThresholdRows::Row(std::int32_t row) {
    std::fill(row_.begin(), row_.end(), std::int16_t(256));
    const TPics& pics = eval_.Pics;
    if (pics.Count() < 3 || row < 0)
        return row_.data();
    const TPic& dark = pics.Planes[0];
    const TPic& lit = pics.Planes[2];
    if (row >= dark.Height || row >= lit.Height)
        return row_.data();
    const std::int32_t width = std::min({eval_.Width, dark.Width, lit.Width});
    const std::uint8_t* p0 = dark.Data[row];
    const std::uint8_t* p2 = lit.Data[row];
    const int minDif = eval_.MinDif;
    const int tolerance = eval_.Tolerance;
    for (std::int32_t col = 0; col < width; ++col)
        if (int(p2[col]) - int(p0[col]) > minDif)
            row_[std::size_t(col)] = static_cast<std::int16_t>(int(p2[col]) - tolerance);
    return row_.data();
}

TValueRows::TValueRows(const TPicEval& eval, std::uint8_t index) : width_(eval.Width) {
    if (index < eval.Pics.Planes.size())
        plane_ = &eval.Pics.Planes[index];
}

const std::uint8_t* TValueRows::Row(std::int32_t row) {
    const bool inside = plane_ && row >= 0 && row < plane_->Height;
    if (inside && plane_->Width >= width_)
        return plane_->Data[row];
    padded_.assign(std::size_t(width_), 0);
    if (inside)
        std::copy_n(plane_->Data[row], plane_->Width, padded_.begin());
    return padded_.data();
}
