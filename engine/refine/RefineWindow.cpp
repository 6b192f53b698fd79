// A refining window on the move: placed on a point's main blob, widened while light
// reaches its rim, and moved until its centre pixel holds the centroid.

#include "refine/RefineWindow.h"

#include "refine/RefineWindowTuning.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace refine_detail {

bool TRefiner::Refine(std::int32_t point, const TUniquePoint& entry, TRefinedPoint& out,
                      double& background) {
    out = TRefinedPoint{};
    out.X = entry.X;
    out.Y = entry.Y;
    out.StrayPixels = entry.PixelCount;
    background_ = 0;
    rivalled_ = false;
    const std::int32_t blobIndex = mainBlob_[std::size_t(point)];
    if (blobIndex < 0) {
        out.Flags = kRefineNone;
        background = 0;
        return false;
    }
    const TBlob& blob = blobs_.Blobs()[std::size_t(blobIndex)];
    const TBlobShape& shape = shapes_[std::size_t(point)];
    out.BlobPixels = blob.Pixels;
    out.StrayPixels = std::max(0, entry.PixelCount - blob.Pixels);
    out.Contrast = std::max(0, blob.Contrast);
    out.Radius = shape.Radius;
    if (blob.Pixels < 2 || FirstReach(shape.Radius) > kMaxReach || !Settle(point, blobIndex, out))
        out.Flags |= kRefineNone;
    background = background_;
    return rivalled_;
}

void TRefiner::Prefetch(std::int32_t point) const {
    const TBlobShape& shape = shapes_[std::size_t(point)];
    if (shape.Pixels == 0)
        return;
    const double reach = std::min(FirstReach(shape.Radius), kMaxReach) + kPatchMargin;
    const auto first = std::int32_t(std::max(0.0, shape.Y - reach));
    const auto last = std::int32_t(std::min(double(light_.Height() - 1), shape.Y + reach));
    const auto left = std::int32_t(std::max(0.0, shape.X - reach));
    const auto right = std::int32_t(std::min(double(light_.Width() - 1), shape.X + reach));
    for (std::int32_t row = first; row <= last; ++row)
        light_.Prefetch(row, left, right);
}

bool TRefiner::Settle(std::int32_t point, std::int32_t blobIndex, TRefinedPoint& out) {
    const TBlobShape& shape = shapes_[std::size_t(point)];
    double x = shape.X, y = shape.Y;
    double reach = FirstReach(shape.Radius);
    FindRivals(point);
    std::int32_t col = std::int32_t(std::lround(x)), row = std::int32_t(std::lround(y));
    std::int32_t lastCol = -1, lastRow = -1; // the centre pixel before the last move
    patchKept_ = false;
    bool lit = false;
    std::uint32_t flags = 0;
    for (int step = 0; step < kMaxSteps; ++step) {
        flags = Gather(point, blobIndex, col, row, reach);
        bool rimLit = false;
        if (!Centroid(blobs_.Blobs()[std::size_t(blobIndex)].Peak, x, y, rimLit, flags))
            break;
        lit = true;
        if (rimLit && reach + 1 <= shape.Reach) {
            reach += 1;
            continue;
        }
        const std::int32_t nextCol = std::int32_t(std::lround(x));
        const std::int32_t nextRow = std::int32_t(std::lround(y));
        if (nextCol == col && nextRow == row)
            break;
        // A centroid on the border of two pixels may send the window back and
        // forth; either window holds all the lit pixels, so stop at the second.
        if (nextCol == lastCol && nextRow == lastRow)
            break;
        lastCol = col;
        lastRow = row;
        col = nextCol;
        row = nextRow;
    }
    if (!lit)
        return false;
    out.X = x;
    out.Y = y;
    out.Flags = flags;
    return true;
}

void TRefiner::FindRivals(std::int32_t point) {
    const TBlobShape& self = shapes_[std::size_t(point)];
    near_.clear();
    grid_.Near(self.X, self.Y, 2 * self.Reach, [&](std::int32_t n) {
        const TBlobShape& other = shapes_[std::size_t(n)];
        if (n == point || !Competes(other, self))
            return;
        // Within reach of the widest window's rivals, seen from any centre it may
        // take; the centre keeps near the blob.
        const double within = 2 * self.Reach + other.Radius - self.Radius + self.Reach;
        if (DistanceTest(other.X - self.X, other.Y - self.Y,
                         [within](double distance) { return distance < within; }))
            near_.push_back(n);
    });
    std::sort(near_.begin(), near_.end());
}

std::uint32_t TRefiner::Gather(std::int32_t point, std::int32_t blobIndex, std::int32_t col,
                               std::int32_t row, double reach) {
    const TBlobShape& self = shapes_[std::size_t(point)];
    // Neighbours that may claim a pixel of the window: a pixel p in it is
    // theirs when |p − c_n| − r_n < |p − c| − r, which needs the centres to be
    // closer than 2 reach + r_n − r.
    rivals_.clear();
    for (std::int32_t n : near_) {
        const TBlobShape& other = shapes_[std::size_t(n)];
        const double within = 2 * reach + other.Radius - self.Radius;
        if (DistanceTest(other.X - col, other.Y - row,
                         [within](double distance) { return distance < within; }))
            rivals_.push_back(n);
    }
    rivalled_ = rivalled_ || !rivals_.empty();
    const bool cut = col - reach < 0 || row - reach < 0 || col + reach > light_.Width() - 1 ||
                     row + reach > light_.Height() - 1;
    const std::uint32_t flags = cut ? std::uint32_t(kRefineBorder) : 0;
    windowCol_ = col;
    windowRow_ = row;
    windowReach_ = reach;
    const std::int32_t radius = std::int32_t(std::ceil(reach));
    if (radius > CommonStencil().Radius() && (!ownStencil_ || ownStencil_->Radius() < radius))
        ownStencil_ = std::make_unique<TStencil>(radius);
    stencil_ = radius > CommonStencil().Radius() ? ownStencil_.get() : &CommonStencil();
    size_ = stencil_->Within(reach * reach);
    // Without rivals the light depends on nothing but the pixel, so the patch
    // is read a little wider than the window, and serves the next steps while
    // their windows stay inside it.
    if (rivals_.empty() && patchKept_ &&
        std::hypot(col - patchCol_, row - patchRow_) + reach <= patchReach_) {
        centreIndex_ = std::ptrdiff_t(row - patchRow_ + patchRadius_) * side_ +
                       (col - patchCol_ + patchRadius_);
        return flags;
    }
    patchKept_ = rivals_.empty();
    patchCol_ = col;
    patchRow_ = row;
    patchReach_ = reach + (patchKept_ ? kPatchMargin : 0);
    patchRadius_ = std::int32_t(std::ceil(patchReach_));
    side_ = 2 * patchRadius_ + 1;
    centreIndex_ = std::ptrdiff_t(patchRadius_) * side_ + patchRadius_;
    ReadPatch(self, blobIndex);
    return flags;
}

} // namespace refine_detail
