#pragma once
// The light a refining window weighs: plane 2 − plane 0, from the 8-bit planes or
// from the pictures at full depth.

#include "refine/Refine.h"

#include <cstdint>

namespace refine_detail {

class TLight {
public:
    /// Full depth where both deep pictures are given. Raises std::invalid_argument
    /// when a plane is not width × height.
    TLight(const TLightPlanes& planes, std::int32_t width, std::int32_t height);

    std::int32_t Width() const { return width_; }
    std::int32_t Height() const { return height_; }
    /// Whether the light comes from the full-depth pictures.
    bool Deep() const { return deepDark_ != nullptr; }
    /// The largest light there can be: 255 plane levels, or 65535 full-depth units.
    std::int32_t Range() const { return Deep() ? 65535 : 255; }
    /// The light of one step of the pictures' own samples (the rounding they carry):
    /// 1 plane level, or 65535 / M full-depth units.
    double Quantum() const { return quantum_; }

    /// The light of (row, col).
    std::int32_t At(std::int32_t row, std::int32_t col) const {
        if (Deep())
            return std::int32_t(deepLit_->Data[row][col]) - std::int32_t(deepDark_->Data[row][col]);
        return std::int32_t(lit_.Data[row][col]) - std::int32_t(dark_.Data[row][col]);
    }
    /// The light of columns first … last of row into out[0 …].
    void Row(std::int32_t row, std::int32_t first, std::int32_t last, std::int32_t* out) const;
    /// Asks the cache for the light of columns first … last of row.
    void Prefetch(std::int32_t row, std::int32_t first, std::int32_t last) const {
        auto fetch = [first, last](const auto* values) {
            constexpr std::int32_t kLine = 64;
            const auto* begin = reinterpret_cast<const char*>(values + first);
            const auto span = std::int32_t(sizeof *values) * (last - first);
            for (std::int32_t offset = 0; offset < span; offset += kLine)
                __builtin_prefetch(begin + offset);
            __builtin_prefetch(begin + span);
        };
        if (Deep()) {
            fetch(deepLit_->Data[row]);
            fetch(deepDark_->Data[row]);
        } else {
            fetch(lit_.Data[row]);
            fetch(dark_.Data[row]);
        }
    }
    /// The table's contrast of (row, col): plane 2 − plane 0 in plane levels.
    std::int32_t Contrast(std::int32_t row, std::int32_t col) const {
        return std::int32_t(lit_.Data[row][col]) - std::int32_t(dark_.Data[row][col]);
    }

private:
    const TPic& dark_;
    const TPic& lit_;
    const TDeepPic* deepDark_ = nullptr;
    const TDeepPic* deepLit_ = nullptr;
    std::int32_t width_, height_;
    double quantum_ = 1;
};

} // namespace refine_detail
