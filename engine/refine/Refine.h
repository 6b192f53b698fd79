#pragma once
// Refined centres: where each dot's light really lies, to a few hundredths of a
// pixel, with figures that say how far to trust it.
//
// A point's plain centre is the mean of the pixels that share its code. Its rim
// pixels fail the contrast test and carry no code, noise hands a few of its pixels
// to other codes and some of other dots' pixels to it, so the mean is off by a
// tenth of a pixel on a clean picture and by many pixels on a noisy one. The
// refined centre weighs the dot's own light instead:
//   - the point's main blob is the largest 8-connected set of its pixels; the
//     point's other pixels are stray, counted but not used;
//   - the light is the contrast plane 2 − plane 0;
//   - the window is a disc around the blob, wide enough for the dim rim, and
//     widens while light reaches its edge; it leaves out the main blobs of
//     competing neighbours and the pixels nearer to such a blob's edge than to
//     this one's (a small blob at this blob's edge is a fragment of its rim and
//     does not compete);
//   - light may not rise along a ray from the centre by more than the noise, so a
//     dot without a code of its own, beyond a valley, weighs nothing;
//   - each pixel weighs its light less a level above the local background (the
//     median on the window's rim), set by the noise and the blob's peak, so that
//     noise and the far tails of neighbouring dots weigh nothing;
//   - the window follows the centroid until its centre pixel holds it;
//   - where competing neighbours came close, a second round takes their light
//     off first: each neighbour's light at a pixel is read at the mirror point on
//     its far side, about its centre from the first round.
// Every point is refined on its own, in a fixed order of pixels, so the results
// are the same on any number of threads.

#include "decode/CodeMatrix.h"
#include "decode/CodeRuns.h"
#include "image/Plane.h"
#include "decode/Points.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

/// What a refined point's flags say.
enum TRefineFlag : std::uint32_t {
    kRefineBorder = 1,    ///< the window is cut by the picture border
    kRefineNeighbour = 2, ///< another point's main blob lies inside the window
    kRefineNone = 4,      ///< no refinement possible: the refined centre is the plain one
};

/// One point's refined centre and quality figures, in the units of the code matrix
/// (column and row of a pixel's centre).
struct TRefinedPoint {
    double X = 0;                 ///< refined centre column
    double Y = 0;                 ///< refined centre row
    std::int32_t BlobPixels = 0;  ///< pixels of the main blob
    std::int32_t StrayPixels = 0; ///< the point's pixels outside its main blob
    std::int32_t Contrast = 0;    ///< highest plane 2 − plane 0 in the main blob, 0 … 255
    double Radius = 0;            ///< radius of a disc of the main blob's area, pixels
    std::uint32_t Flags = 0;      ///< TRefineFlag bits
};

/// The pictures the light of the refinement comes from: plane 2 − plane 0. Where
/// both are given at full depth too, the light is read from those, in their units
/// (1/257 of a plane level): dim dots of a camera of more than 8 bits span a few
/// plane levels but hundreds of full-depth steps. Contrast stays in plane levels.
struct TLightPlanes {
    const TPic& Dark;                   ///< plane 0
    const TPic& Lit;                    ///< plane 2
    const TDeepPic* DeepDark = nullptr; ///< picture 0 at full depth, or none
    const TDeepPic* DeepLit = nullptr;  ///< picture 2 at full depth, or none
};

/// Refines every point of points (entries 0 … EntryCount − 1, their plain centres
/// computed) from the light and the runs of the codes they came from; returns one
/// entry per point, in point-list order. The planes must be of the runs' size
/// (std::invalid_argument otherwise). A point without pixels among the runs, of one
/// pixel, or without contrast above its background keeps its plain centre and
/// carries kRefineNone. threads: how many threads may share the work (0: all
/// cores); the results do not depend on it. checkStop, when given, is called now
/// and then on any of the threads; what it raises stops the work and is raised.
std::vector<TRefinedPoint> RefineCentres(const TLightPlanes& light, const TCodeRuns& runs,
                                         const TUniquePoints& points, int threads = 1,
                                         const std::function<void()>& checkStop = {});

/// RefineCentres from the code matrix the points came from.
std::vector<TRefinedPoint> RefineCentres(const TLightPlanes& light, const TCode& codes,
                                         const TUniquePoints& points, int threads = 1,
                                         const std::function<void()>& checkStop = {});

/// The columns of the point table.
inline constexpr const char* kPointTableHeader =
    "code,dot,x,y,pixels,refined_x,refined_y,blob_pixels,stray_pixels,contrast,radius,flags";

/// The point table: the header line kPointTableHeader and one line per point in
/// point-list order. dot is (code − 1) / 2; x, y are the plain centre, the refined
/// centre and the radius have four decimals ("." whatever the locale, an exact half
/// rounded away from zero); flags are the names "border", "neighbour" and
/// "unrefined" joined by '|', empty for none. LF line ends.
/// threads: how many threads may share the work (0: all cores).
std::string PointTableText(const TUniquePoints& points, const std::vector<TRefinedPoint>& refined,
                           int threads = 1);

/// The names of a point's flags as the table shows them.
std::string RefineFlagNames(std::uint32_t flags);
