#pragma once
// The order in which a window visits its pixels: outward from its centre pixel.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace refine_detail {

// The pixels around a centre pixel in the order of their distance from it, each
// with its inward neighbour: the pixel one step nearer the centre along the ray
// through it. Every pixel's inward neighbour comes before it.
class TStencil {
public:
    struct TEntry {
        std::int32_t Dx, Dy;
        std::int32_t Distance2; // Dx² + Dy²
        std::int32_t Parent;    // index of the inward neighbour; the centre: itself
    };

    explicit TStencil(std::int32_t radius);

    std::int32_t Radius() const { return radius_; }
    const TEntry& operator[](std::size_t i) const { return entries_[i]; }
    /// The number of entries no farther than sqrt(distance2) from the centre.
    std::size_t Within(double distance2) const {
        if (!(distance2 >= 0))
            return 0;
        const double last = double(within_.size() - 1);
        return within_[std::size_t(std::min(std::floor(distance2), last))];
    }

private:
    std::int32_t radius_;
    std::vector<TEntry> entries_;
    std::vector<std::size_t> within_; // entries with Distance2 ≤ d, for d = 0 … radius²
};

// Stencils of kStencilRadius serve nearly every window; a larger one is made for
// the rare window beyond it.
inline constexpr std::int32_t kStencilRadius = 48;

const TStencil& CommonStencil();

} // namespace refine_detail
