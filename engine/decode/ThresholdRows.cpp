#include "decode/ThresholdRows.h"

#include "base/Vectorize.h"
#include "decode/CodeRule.h"

#include <algorithm>

namespace {

KELVARON_VECTOR_CLONES
void ThresholdRow(const std::uint8_t* __restrict dark, const std::uint8_t* __restrict lit,
                  std::int16_t* __restrict out, std::int32_t width, int minDif, int tolerance) {
    for (std::int32_t col = 0; col < width; ++col) {
        out[col] =
            static_cast<std::int16_t>(PixelThreshold(dark[col], lit[col], minDif, tolerance));
    }
}

} // namespace

const std::int16_t* TThresholdRows::Row(std::int32_t row) {
    // Positions outside plane 0 or plane 2 (or a stack without them) lie on no dot.
    const TPics& pics = pics_;
    std::int32_t width = 0;
    if (pics.Count() >= 3 && row >= 0 && row < pics.Planes[0].Height &&
        row < pics.Planes[2].Height) {
        const TPic& dark = pics.Planes[0];
        const TPic& lit = pics.Planes[2];
        width = std::min({width_, dark.Width, lit.Width});
        ThresholdRow(dark.Data[row], lit.Data[row], row_.data(), width, minDif_, tolerance_);
    }
    std::fill(row_.begin() + width, row_.end(), std::int16_t(256));
    return row_.data();
}

TValueRows::TValueRows(const TPics& pics, std::uint8_t index, std::int32_t width) : width_(width) {
    if (index < pics.Planes.size())
        plane_ = &pics.Planes[index];
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
