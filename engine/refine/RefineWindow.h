#pragma once
// The window that refines one point: a disc around a centre pixel that widens and
// follows the centroid of the light in it (RefineWindow.cpp), and the reading and
// weighing of that light (RefineWindowLight.cpp).

#include "decode/Points.h"
#include "refine/Refine.h"
#include "refine/RefineBlobs.h"
#include "refine/RefineLight.h"
#include "refine/RefineMedian.h"
#include "refine/RefineStencil.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace refine_detail {

/// test(std::hypot(dx, dy)) for a test that is monotone in the distance, mostly
/// without hypot, which is dear: the square root of dx² + dy² lies within a
/// relative 1e-12 of it (away from overflow and underflow), so where the test gives
/// one answer at both ends of that interval, that is its answer at hypot too.
template <class F> bool DistanceTest(double dx, double dy, F&& test) {
    constexpr double kSlack = 1e-12;
    const double root = std::sqrt(dx * dx + dy * dy);
    if (root > 1e-100 && root < 1e100) {
        const bool low = test(root * (1 - kSlack));
        if (low == test(root * (1 + kSlack)))
            return low;
    }
    return test(std::hypot(dx, dy));
}

// Refines the points one at a time; one object per thread. A window is a disc
// around a centre pixel; its light is read once per place and size.
class TRefiner {
public:
    TRefiner(const TLight& light, const TBlobs& blobs, const std::vector<std::int32_t>& mainBlob,
             const std::vector<std::int32_t>& pointOfBlob, const std::vector<TBlobShape>& shapes,
             const TNeighbourGrid& grid, double noise)
        : noise_(noise), light_(light), blobs_(blobs), mainBlob_(mainBlob),
          pointOfBlob_(pointOfBlob), shapes_(shapes), grid_(grid) {}

    /// Light of other points to take off before refining: their refined centres and
    /// backgrounds from a first round.
    void SetPrior(const std::vector<TRefinedPoint>* prior, const std::vector<double>* background) {
        prior_ = prior;
        priorBackground_ = background;
    }

    /// Asks the cache for the light around a point's blob, while another is refined.
    void Prefetch(std::int32_t point) const;

    /// Refines one point into out and its background; true when a neighbour came
    /// close enough to claim pixels of its window.
    bool Refine(std::int32_t point, const TUniquePoint& entry, TRefinedPoint& out,
                double& background);

private:
    // Patch values that are no light: off the picture or not this point's, and a
    // pixel of a competing neighbour's blob. Every light value lies above kLowest.
    static constexpr std::int32_t kOutside = INT32_MIN;
    static constexpr std::int32_t kRival = INT32_MIN + 1;
    static constexpr std::int32_t kLowest = INT32_MIN + 2;

    // Moves the window until its centre pixel holds the centroid; false when no
    // pixel of it carries light above the level.
    bool Settle(std::int32_t point, std::int32_t blobIndex, TRefinedPoint& out);

    // The competing neighbours that any window of the point may meet, into near_,
    // each once, in rising order.
    void FindRivals(std::int32_t point);

    // Reads the light of the window of radius reach around the centre pixel (col,
    // row) into patch_, in the stencil's order; kOutside for pixels off the picture
    // or claimed by a rival, kRival for a competing neighbour's blob. Returns the
    // border flag.
    std::uint32_t Gather(std::int32_t point, std::int32_t blobIndex, std::int32_t col,
                         std::int32_t row, double reach);

    // Reads the light of the pixels within patchReach_ of the patch's centre
    // pixel into patch_, row by row.
    void ReadPatch(const TBlobShape& self, std::int32_t blobIndex);

    // The light the rivals throw on (col, row), each taken as point-symmetric about
    // its refined centre: its light at the mirror point on its far side.
    double RivalLight(std::int32_t col, std::int32_t row) const;

    // Plane 2 − plane 0 between pixels, interpolated from the four around; 0 off
    // the picture.
    double ContrastAt(double x, double y) const;

    // Whether a rival's blob edge is nearer to the pixel than this point's, at
    // ownDistance from it.
    bool Claimed(std::int32_t col, std::int32_t row, double ownDistance) const;

    static bool Competes(const TBlobShape& other, const TBlobShape& self);

    // The centroid (x, y) of the window's light above the level; false when nothing
    // lies above it. rimLit: whether light above the level reaches the window's rim.
    bool Centroid(std::int32_t peak, double& x, double& y, bool& rimLit, std::uint32_t& flags);

    static constexpr std::int32_t kUnbounded = INT32_MAX / 2;

    const double noise_; // of the light in the background, as a sigma
    const TLight& light_;
    const TBlobs& blobs_;
    const std::vector<std::int32_t>& mainBlob_;
    const std::vector<std::int32_t>& pointOfBlob_;
    const std::vector<TBlobShape>& shapes_;
    const TNeighbourGrid& grid_;
    const std::vector<TRefinedPoint>* prior_ = nullptr;
    const std::vector<double>* priorBackground_ = nullptr;

    std::vector<std::int32_t> near_;
    std::vector<std::int32_t> rivals_;
    std::vector<std::int32_t> ring_;
    TMedian median_;
    std::unique_ptr<TStencil> ownStencil_;
    const TStencil* stencil_ = nullptr;
    // The window: its centre pixel, its radius and the stencil's entries in it.
    std::int32_t windowCol_ = 0, windowRow_ = 0;
    double windowReach_ = 0;
    std::size_t size_ = 0;
    // The patch of light read around (patchCol_, patchRow_); kept for later steps
    // when no rival claimed any of it.
    bool patchKept_ = false;
    std::int32_t patchCol_ = 0, patchRow_ = 0, patchRadius_ = 0;
    double patchReach_ = 0;
    std::vector<std::int32_t> patch_;     // the window's square, row by row
    std::vector<std::int32_t> halfWidth_; // of the patch's disc in each row from its centre
    std::int32_t side_ = 0;               // of the square
    std::ptrdiff_t centreIndex_ = 0;      // of the centre pixel in it
    std::vector<std::int32_t> bound_;     // the most light each pixel may pass outward
    double background_ = 0;
    bool rivalled_ = false;
};

} // namespace refine_detail
