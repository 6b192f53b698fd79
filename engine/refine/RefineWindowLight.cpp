// The light of a refining window: read from the planes with its rivals' pixels
// left out or their light taken off, and weighed above the level into a centroid.

#include "refine/RefineWindow.h"
#include "refine/RefineWindowTuning.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace refine_detail {

void TRefiner::ReadPatch(const TBlobShape& self, std::int32_t blobIndex) {
    const std::int32_t radius = patchRadius_, side = side_, col = patchCol_, row = patchRow_;
    patch_.assign(std::size_t(side) * std::size_t(side), kOutside);
    const double reach2 = patchReach_ * patchReach_;
    // The disc's half width in each row: the widest that still fits.
    halfWidth_.resize(std::size_t(radius) + 1);
    for (std::int32_t dy = 0, half = radius; dy <= radius; ++dy) {
        while (half > 0 && double(half) * half + double(dy) * dy > reach2)
            --half;
        halfWidth_[std::size_t(dy)] = double(dy) * dy <= reach2 ? half : -1;
    }
    for (std::int32_t dy = -radius; dy <= radius; ++dy) {
        const std::int32_t r = row + dy;
        if (r < 0 || r >= light_.Height())
            continue;
        const std::int32_t half = halfWidth_[std::size_t(std::abs(dy))];
        if (half < 0)
            continue;
        const std::int32_t c0 = std::max(0, col - half);
        const std::int32_t c1 = std::min(light_.Width() - 1, col + half);
        if (c0 > c1)
            continue;
        std::int32_t* out =
            &patch_[std::size_t(dy + radius) * std::size_t(side) + std::size_t(c0 - col + radius)];
        light_.Row(r, c0, c1, out);
        // The runs of codes that cross the row's span: competing neighbours'
        // blobs are no light of this point's.
        for (std::size_t i = blobs_.RowCursor(r, c0); i < blobs_.RowEnd(r); ++i) {
            const TRun& run = blobs_.Run(i);
            if (run.Begin > c1)
                break;
            const std::int32_t owner = pointOfBlob_[std::size_t(run.Comp)];
            if (run.Comp == blobIndex || owner < 0 || !Competes(shapes_[std::size_t(owner)], self))
                continue;
            std::fill(out + (std::max(run.Begin, c0) - c0),
                      out + (std::min(run.End - 1, c1) - c0 + 1), kRival);
        }
        if (rivals_.empty())
            continue;
        // Pixels nearer a rival than this point are the rival's; of those that
        // are left, the light the rivals throw is taken off once they are known.
        // The blob of each pixel from a cursor that walks along the row's runs.
        std::size_t run = blobs_.RowCursor(r, c0);
        const std::size_t rowEnd = blobs_.RowEnd(r);
        for (std::int32_t c = c0; c <= c1; ++c) {
            while (run < rowEnd && blobs_.Run(run).End <= c)
                ++run;
            std::int32_t& value = out[c - c0];
            if (value == kRival)
                continue;
            const bool own =
                run < rowEnd && blobs_.Run(run).Begin <= c && blobs_.Run(run).Comp == blobIndex;
            const double dx = c - col;
            if (!own && Claimed(c, r, std::sqrt(dx * dx + double(dy) * dy) - self.Radius)) {
                value = kOutside;
                continue;
            }
            if (prior_)
                value -= std::int32_t(std::lround(RivalLight(c, r)));
        }
    }
}

double TRefiner::RivalLight(std::int32_t col, std::int32_t row) const {
    double light = 0;
    for (std::int32_t n : rivals_) {
        const TRefinedPoint& other = (*prior_)[std::size_t(n)];
        if ((other.Flags & kRefineNone) != 0)
            continue;
        const double radius = shapes_[std::size_t(n)].Radius;
        const double reach = FirstReach(radius);
        const double dx = col - other.X, dy = row - other.Y;
        if (dx * dx + dy * dy > reach * reach)
            continue;
        light += std::max(0.0, ContrastAt(other.X - dx, other.Y - dy) -
                                   std::max(0.0, (*priorBackground_)[std::size_t(n)]));
    }
    return light;
}

double TRefiner::ContrastAt(double x, double y) const {
    const double c0 = std::floor(x), r0 = std::floor(y);
    if (c0 < 0 || r0 < 0 || c0 + 1 > light_.Width() - 1 || r0 + 1 > light_.Height() - 1)
        return 0;
    const auto col = std::int32_t(c0), row = std::int32_t(r0);
    auto at = [&](std::int32_t r, std::int32_t c) { return double(light_.At(r, c)); };
    const double fx = x - c0, fy = y - r0;
    return (1 - fy) * ((1 - fx) * at(row, col) + fx * at(row, col + 1)) +
           fy * ((1 - fx) * at(row + 1, col) + fx * at(row + 1, col + 1));
}

bool TRefiner::Claimed(std::int32_t col, std::int32_t row, double ownDistance) const {
    for (std::int32_t n : rivals_) {
        const TBlobShape& other = shapes_[std::size_t(n)];
        if (DistanceTest(col - other.X, row - other.Y,
                         [&](double distance) { return distance - other.Radius < ownDistance; }))
            return true;
    }
    return false;
}

bool TRefiner::Competes(const TBlobShape& other, const TBlobShape& self) {
    if (other.Pixels == 0)
        return false;
    return double(other.Pixels) >= kCompetingShare * self.Pixels ||
           DistanceTest(other.X - self.X, other.Y - self.Y, [&](double distance) {
               return distance - other.Radius - self.Radius > kCompetingGap;
           });
}

bool TRefiner::Centroid(std::int32_t peak, double& x, double& y, bool& rimLit,
                        std::uint32_t& flags) {
    const double inner = std::max(0.0, windowReach_ - kRingDepth);
    const std::size_t rimStart = stencil_->Within(inner * inner);
    const std::int32_t* light = patch_.data() + centreIndex_;
    ring_.clear();
    for (std::size_t i = rimStart; i < size_; ++i) {
        const TStencil::TEntry& e = (*stencil_)[i];
        const std::int32_t value = light[std::ptrdiff_t(e.Dy) * side_ + e.Dx];
        if (value >= kLowest)
            ring_.push_back(value);
    }
    const double background = median_.Of(ring_);
    background_ = background;
    // The spread of the rim's light about the background: the sensor's noise,
    // from the median absolute deviation, as a normal distribution's sigma.
    // Twice the background is a whole number.
    const double noise = 1.4826 * median_.OfDeviations(ring_, std::int32_t(2 * background)) / 2;
    if (peak <= background)
        return false;
    const double span = peak - background;
    const double level = std::max(0.0, background) +
                         std::min(std::max(kLevel * span, kNoiseLevel * noise), kMaxLevel * span);
    // The light is clipped to what a dot's profile allows: it never rises along
    // a ray from the centre pixel by more than the picture's noise, so that past
    // a valley the light of a dot without a code of its own (too dim, or lost to
    // noise) weighs nothing. The rim's own spread would also hold the light that
    // is to be cut off, so the picture's noise sets the tolerance.
    const auto tolerance =
        std::int32_t(std::ceil(kNoiseLevel * noise_ + kQuantum * light_.Quantum()));
    bound_.resize(size_);
    // In locals, which the stores into bound may not alias.
    std::int32_t* const bound = bound_.data();
    const TStencil& stencil = *stencil_;
    const std::ptrdiff_t side = side_;
    const std::size_t size = size_;
    double sum = 0, sumX = 0, sumY = 0;
    bool lit = false, rival = false;
    for (std::size_t i = 0; i < size; ++i) {
        const TStencil::TEntry& e = stencil[i];
        const std::int32_t inherited = i == 0 ? kUnbounded : bound[std::size_t(e.Parent)];
        const std::int32_t value = light[std::ptrdiff_t(e.Dy) * side + e.Dx];
        if (value < kLowest) {
            bound[i] = inherited;
            rival = rival || value == kRival;
            continue;
        }
        bound[i] = std::min(inherited, value + tolerance);
        const double w = std::min(std::max(0, value), inherited) - level;
        if (w <= 0)
            continue;
        sum += w;
        sumX += w * e.Dx;
        sumY += w * e.Dy;
        lit = lit || i >= rimStart;
    }
    rimLit = lit;
    if (rival)
        flags |= kRefineNeighbour;
    if (!(sum > 0))
        return false;
    x = windowCol_ + sumX / sum;
    y = windowRow_ + sumY / sum;
    return true;
}

} // namespace refine_detail
