#include "Refine.h"

#include "Parallel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace {

// Each pixel weighs its light above a level: the background plus kNoiseLevel
// times the noise, kLevel to kMaxLevel of the way from the background to the peak.
// Below it lie the sensor noise and the far tails of neighbouring dots; above it
// the dot's own light, symmetric about its centre. A low level keeps most of the
// dot's light, which matters most for sharp dots.
constexpr double kLevel = 0.05;
constexpr double kMaxLevel = 0.25;
constexpr double kNoiseLevel = 3;
// Light may rise along a ray from the centre by kNoiseLevel times the noise plus
// kQuantum grey levels (the picture's own rounding) before it is clipped.
constexpr double kQuantum = 2;
// The first window reaches this far beyond the blob's equivalent radius: at least
// kRimPixels, at least half the radius.
constexpr double kRimPixels = 3;
// The window widens a pixel at a time while lit pixels touch its rim, up to
// kMaxGrowth × radius + kMaxGrowthPixels; so the windows of all points together
// cover a bounded multiple of the picture, whatever the codes.
constexpr double kMaxGrowth = 2;
constexpr double kMaxGrowthPixels = 12;
// The rim over which the background is taken, as a depth below the window's edge.
constexpr double kRingDepth = 1.5;
// Moves of the centre smaller than this end the refinement.
constexpr double kSettled = 1e-5;
constexpr int kMaxSteps = 40;
// Another point's main blob competes for the pixels between it and this point
// when it has at least this share of this point's blob pixels, or when a gap of
// more than kCompetingGap pixels parts the two blobs' discs. Smaller blobs at this
// blob's edge are fragments that noise cut out of this dot's rim: their light is
// this dot's.
constexpr double kCompetingShare = 0.25;
constexpr double kCompetingGap = 2;
// Blob centres are filed in square cells of this many pixels to find neighbours.
constexpr std::int32_t kCellPixels = 16;

// A run of pixels of one code in one row: columns Begin … End − 1. Comp is first a
// union-find parent (a run index no higher than the run's own), then the blob.
struct TRun {
    std::int32_t Begin;
    std::int32_t End;
    std::int32_t Comp;
};

// One 8-connected blob: a set of pixels of one code.
struct TBlob {
    std::int32_t Code = 0;
    std::int32_t Pixels = 0;
    std::int64_t SumX = 0;
    std::int64_t SumY = 0;
    std::int32_t Peak = 0; // highest contrast
};

// The main blob of a point, as its neighbours see it.
struct TBlobShape {
    double X = 0, Y = 0; // centre
    double Radius = 0;   // of a disc of its area
    double Reach = 0;    // the farthest its window may reach
    std::int32_t Pixels = 0;
};

// The code matrix cut into blobs.
class TBlobs {
public:
    TBlobs(const TCode& codes, const TPic& dark, const TPic& lit) : codes_(codes) {
        FindRuns();
        JoinRuns();
        Measure(dark, lit);
    }

    const std::vector<TBlob>& Blobs() const { return blobs_; }

    /// The blob of the pixel at column col of the row whose cursor (RowCursor) is
    /// given; the pixel must carry a code. The cursor moves on as columns rise.
    std::int32_t BlobAt(std::int32_t col, std::size_t& cursor) const {
        while (runs_[cursor].End <= col)
            ++cursor;
        return runs_[cursor].Comp;
    }
    /// The cursor for the first run of row that ends after col.
    std::size_t RowCursor(std::int32_t row, std::int32_t col) const {
        const auto first = runs_.begin() + std::ptrdiff_t(rowStart_[std::size_t(row)]);
        const auto last = runs_.begin() + std::ptrdiff_t(rowStart_[std::size_t(row) + 1]);
        return std::size_t(std::upper_bound(first, last, col,
                                            [](std::int32_t c, const TRun& run) {
                                                return c < run.End;
                                            }) -
                           runs_.begin());
    }

private:
    void FindRuns() {
        rowStart_.reserve(std::size_t(codes_.Height) + 1);
        for (std::int32_t row = 0; row < codes_.Height; ++row) {
            rowStart_.push_back(runs_.size());
            const std::int32_t* code = codes_.Data[row];
            for (std::int32_t col = 0; col < codes_.Width;) {
                if (code[col] == 0) {
                    ++col;
                    continue;
                }
                std::int32_t end = col + 1;
                while (end < codes_.Width && code[end] == code[col])
                    ++end;
                runs_.push_back({col, end, std::int32_t(runs_.size())});
                col = end;
            }
        }
        rowStart_.push_back(runs_.size());
        if (runs_.size() > std::size_t(INT32_MAX))
            throw std::length_error("too many runs of codes"); // beyond any plane size
    }

    std::int32_t Root(std::int32_t run) {
        while (runs_[std::size_t(run)].Comp != run) {
            TRun& r = runs_[std::size_t(run)];
            r.Comp = runs_[std::size_t(r.Comp)].Comp; // halve the path
            run = r.Comp;
        }
        return run;
    }

    // Joins the runs of one code that touch, diagonally included, into blobs; each
    // blob's root is its first run from the top left.
    void JoinRuns() {
        for (std::int32_t row = 1; row < codes_.Height; ++row) {
            const std::int32_t* code = codes_.Data[row];
            const std::int32_t* above = codes_.Data[row - 1];
            std::size_t j = rowStart_[std::size_t(row) - 1];
            const std::size_t aboveEnd = rowStart_[std::size_t(row)];
            for (std::size_t i = aboveEnd; i < rowStart_[std::size_t(row) + 1]; ++i) {
                const TRun run = runs_[i];
                while (j < aboveEnd && runs_[j].End < run.Begin)
                    ++j;
                for (std::size_t k = j; k < aboveEnd && runs_[k].Begin <= run.End; ++k) {
                    if (above[runs_[k].Begin] != code[run.Begin])
                        continue;
                    const std::int32_t a = Root(std::int32_t(i));
                    const std::int32_t b = Root(std::int32_t(k));
                    if (a != b)
                        runs_[std::size_t(std::max(a, b))].Comp = std::min(a, b);
                }
            }
        }
        // Parents precede their runs, so one pass in order resolves every run.
        std::int32_t blobs = 0;
        for (std::size_t i = 0; i < runs_.size(); ++i) {
            TRun& run = runs_[i];
            if (run.Comp == std::int32_t(i)) {
                run.Comp = blobs++;
                continue;
            }
            run.Comp = runs_[std::size_t(run.Comp)].Comp;
        }
        blobs_.resize(std::size_t(blobs));
    }

    void Measure(const TPic& dark, const TPic& lit) {
        for (std::int32_t row = 0; row < codes_.Height; ++row) {
            const std::uint8_t* d = dark.Data[row];
            const std::uint8_t* l = lit.Data[row];
            for (std::size_t i = rowStart_[std::size_t(row)]; i < rowStart_[std::size_t(row) + 1];
                 ++i) {
                const TRun& run = runs_[i];
                TBlob& blob = blobs_[std::size_t(run.Comp)];
                const std::int64_t n = run.End - run.Begin;
                blob.Code = codes_.Data[row][run.Begin];
                blob.Pixels += std::int32_t(n);
                blob.SumX += n * run.Begin + n * (n - 1) / 2;
                blob.SumY += n * row;
                for (std::int32_t col = run.Begin; col < run.End; ++col)
                    blob.Peak = std::max(blob.Peak, int(l[col]) - int(d[col]));
            }
        }
    }

    const TCode& codes_;
    std::vector<TRun> runs_;
    std::vector<std::size_t> rowStart_; // runs of row r: rowStart_[r] … rowStart_[r + 1] − 1
    std::vector<TBlob> blobs_;
};

// The points' main blobs filed by position, to find the ones near a point.
class TNeighbourGrid {
public:
    TNeighbourGrid(const std::vector<TBlobShape>& shapes, std::int32_t width, std::int32_t height)
        : columns_(width / kCellPixels + 1), rows_(height / kCellPixels + 1) {
        start_.assign(std::size_t(columns_) * std::size_t(rows_) + 1, 0);
        // Each blob goes into every cell its disc's square touches; counted first.
        for (int pass = 0; pass < 2; ++pass) {
            for (std::size_t p = 0; p < shapes.size(); ++p) {
                const TBlobShape& s = shapes[p];
                if (s.Pixels == 0)
                    continue;
                ForCells(s.X, s.Y, s.Radius, [&](std::size_t cell) {
                    if (pass == 0)
                        ++start_[cell + 1];
                    else
                        items_[fill_[cell]++] = std::int32_t(p);
                });
            }
            if (pass == 0) {
                for (std::size_t c = 1; c < start_.size(); ++c)
                    start_[c] += start_[c - 1];
                items_.resize(start_.back());
                fill_.assign(start_.begin(), start_.end() - 1);
            }
        }
    }

    /// Every point whose blob square touches the square of half side reach around
    /// (x, y), each once, in rising order.
    void Near(double x, double y, double reach, std::vector<std::int32_t>& out) const {
        out.clear();
        ForCells(x, y, reach, [&](std::size_t cell) {
            out.insert(out.end(), items_.begin() + std::ptrdiff_t(start_[cell]),
                       items_.begin() + std::ptrdiff_t(start_[cell + 1]));
        });
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
    }

private:
    template <class F> void ForCells(double x, double y, double half, F&& f) const {
        auto cell = [](double v, std::int32_t cells) {
            return std::int32_t(std::clamp(std::floor(v / kCellPixels), 0.0, double(cells - 1)));
        };
        const std::int32_t c0 = cell(x - half, columns_), c1 = cell(x + half, columns_);
        const std::int32_t r0 = cell(y - half, rows_), r1 = cell(y + half, rows_);
        for (std::int32_t r = r0; r <= r1; ++r)
            for (std::int32_t c = c0; c <= c1; ++c)
                f(std::size_t(r) * std::size_t(columns_) + std::size_t(c));
    }

    std::int32_t columns_, rows_;
    std::vector<std::size_t> start_;
    std::vector<std::size_t> fill_;
    std::vector<std::int32_t> items_;
};

// Refines the points one at a time; one object per thread.
class TRefiner {
public:
    TRefiner(const TPic& dark, const TPic& lit, const TCode& codes, const TBlobs& blobs,
             const std::vector<std::int32_t>& mainBlob, const std::vector<std::int32_t>& pointOfBlob,
             const std::vector<TBlobShape>& shapes, const TNeighbourGrid& grid, double noise)
        : noise_(noise), dark_(dark), lit_(lit), codes_(codes), blobs_(blobs), mainBlob_(mainBlob),
          pointOfBlob_(pointOfBlob), shapes_(shapes), grid_(grid) {}

    /// Refines one point into out and its background; true when a neighbour came
    /// close enough to claim pixels of its window.
    bool Refine(std::int32_t point, const TUniquePoint& entry, TRefinedPoint& out,
                double& background) {
        background_ = 0;
        rivalled_ = false;
        out = TRefinedPoint{};
        out.X = entry.X;
        out.Y = entry.Y;
        out.StrayPixels = entry.PixelCount;
        const std::int32_t blobIndex = mainBlob_[std::size_t(point)];
        if (blobIndex < 0) {
            out.Flags = kRefineNone;
            return false;
        }
        const TBlob& blob = blobs_.Blobs()[std::size_t(blobIndex)];
        const TBlobShape& shape = shapes_[std::size_t(point)];
        out.BlobPixels = blob.Pixels;
        out.StrayPixels = std::max(0, entry.PixelCount - blob.Pixels);
        out.Contrast = std::max(0, blob.Peak);
        out.Radius = shape.Radius;
        if (blob.Pixels < 2 || !Settle(point, blobIndex, out))
            out.Flags |= kRefineNone;
        background = background_;
        return rivalled_;
    }

    /// Light of other points to take off before refining: their refined centres and
    /// backgrounds from a first round.
    void SetPrior(const std::vector<TRefinedPoint>* prior, const std::vector<double>* background) {
        prior_ = prior;
        priorBackground_ = background;
    }

private:
    static constexpr std::int32_t kOutside = INT32_MIN;
    static constexpr double kUnbounded = 1e9;

    // Moves the window until the centre settles; false when no pixel of it carries
    // light above the level.
    bool Settle(std::int32_t point, std::int32_t blobIndex, TRefinedPoint& out) {
        const TBlobShape& shape = shapes_[std::size_t(point)];
        double x = shape.X, y = shape.Y;
        double reach = shape.Radius + std::max(kRimPixels, shape.Radius / 2);
        grid_.Near(x, y, 2 * shape.Reach, near_);
        std::uint32_t flags = 0;
        bool lit = false;
        for (int step = 0; step < kMaxSteps; ++step) {
            flags = 0;
            Gather(point, blobIndex, x, y, reach, flags);
            double nx = 0, ny = 0;
            bool rimLit = false;
            if (!Centroid(blobs_.Blobs()[std::size_t(blobIndex)].Peak, x, y, reach, nx, ny,
                          rimLit))
                break;
            lit = true;
            const double moved = std::hypot(nx - x, ny - y);
            x = nx;
            y = ny;
            if (rimLit && reach + 1 <= shape.Reach) {
                reach += 1;
                continue;
            }
            if (moved < kSettled)
                break;
        }
        if (!lit)
            return false;
        out.X = x;
        out.Y = y;
        out.Flags = flags;
        return true;
    }

    // The contrast of every pixel of the square patch around the window's centre
    // pixel that may belong to this point, into patch_; kOutside for the others.
    void Gather(std::int32_t point, std::int32_t blobIndex, double x, double y, double reach,
                std::uint32_t& flags) {
        const TBlobShape& self = shapes_[std::size_t(point)];
        // Neighbours that may claim a pixel of the window: a pixel p in it is
        // theirs when |p − c_n| − r_n < |p − c| − r, which needs the centres to be
        // closer than 2 reach + r_n − r.
        rivals_.clear();
        for (std::int32_t n : near_) {
            const TBlobShape& other = shapes_[std::size_t(n)];
            if (n == point || !Competes(other, self))
                continue;
            if (std::hypot(other.X - x, other.Y - y) < 2 * reach + other.Radius - self.Radius)
                rivals_.push_back(n);
        }
        rivalled_ = rivalled_ || !rivals_.empty();
        if (x - reach < 0 || y - reach < 0 || x + reach > codes_.Width - 1 ||
            y + reach > codes_.Height - 1)
            flags |= kRefineBorder;

        centreCol_ = std::int32_t(std::lround(x));
        centreRow_ = std::int32_t(std::lround(y));
        half_ = std::int32_t(std::ceil(reach)) + 1;
        side_ = 2 * half_ + 1;
        patch_.assign(std::size_t(side_) * std::size_t(side_), kOutside);
        const std::int32_t ourCode = blobs_.Blobs()[std::size_t(blobIndex)].Code;
        const double reach2 = reach * reach;
        const std::int32_t r0 = std::max(0, centreRow_ - half_);
        const std::int32_t r1 = std::min(codes_.Height - 1, centreRow_ + half_);
        const std::int32_t c0 = std::max(0, centreCol_ - half_);
        const std::int32_t c1 = std::min(codes_.Width - 1, centreCol_ + half_);
        for (std::int32_t row = r0; row <= r1; ++row) {
            const double dy = row - y;
            const std::int32_t* code = codes_.Data[row];
            const std::uint8_t* d = dark_.Data[row];
            const std::uint8_t* l = lit_.Data[row];
            std::int32_t* out = &patch_[std::size_t(row - centreRow_ + half_) * std::size_t(side_) +
                                        std::size_t(c0 - centreCol_ + half_)];
            std::size_t cursor = blobs_.RowCursor(row, c0);
            for (std::int32_t col = c0; col <= c1; ++col, ++out) {
                const double dx = col - x;
                const double dist2 = dx * dx + dy * dy;
                const bool ours = code[col] == ourCode && blobs_.BlobAt(col, cursor) == blobIndex;
                if (!ours && code[col] != 0) {
                    const std::int32_t b = blobs_.BlobAt(col, cursor);
                    const std::int32_t owner = pointOfBlob_[std::size_t(b)];
                    if (owner >= 0 && Competes(shapes_[std::size_t(owner)], self)) {
                        if (dist2 <= reach2)
                            flags |= kRefineNeighbour;
                        continue;
                    }
                }
                if (!ours && Claimed(col, row, std::sqrt(dist2) - self.Radius))
                    continue;
                *out = int(l[col]) - int(d[col]);
                if (prior_)
                    *out -= std::int32_t(std::lround(RivalLight(col, row)));
            }
        }
    }

    // The light the rivals throw on (col, row), each taken as point-symmetric about
    // its refined centre: its light at the mirror point on its far side.
    double RivalLight(std::int32_t col, std::int32_t row) const {
        double light = 0;
        for (std::int32_t n : rivals_) {
            const TRefinedPoint& other = (*prior_)[std::size_t(n)];
            if ((other.Flags & kRefineNone) != 0)
                continue;
            const double radius = shapes_[std::size_t(n)].Radius;
            const double reach = radius + std::max(kRimPixels, radius / 2);
            const double dx = col - other.X, dy = row - other.Y;
            if (dx * dx + dy * dy > reach * reach)
                continue;
            light += std::max(0.0, ContrastAt(other.X - dx, other.Y - dy) -
                                       std::max(0.0, (*priorBackground_)[std::size_t(n)]));
        }
        return light;
    }

    // Plane 2 − plane 0 between pixels, interpolated from the four around; 0 off
    // the picture.
    double ContrastAt(double x, double y) const {
        const double c0 = std::floor(x), r0 = std::floor(y);
        if (c0 < 0 || r0 < 0 || c0 + 1 > codes_.Width - 1 || r0 + 1 > codes_.Height - 1)
            return 0;
        const auto col = std::int32_t(c0), row = std::int32_t(r0);
        auto at = [&](std::int32_t r, std::int32_t c) {
            return double(int(lit_.Data[r][c]) - int(dark_.Data[r][c]));
        };
        const double fx = x - c0, fy = y - r0;
        return (1 - fy) * ((1 - fx) * at(row, col) + fx * at(row, col + 1)) +
               fy * ((1 - fx) * at(row + 1, col) + fx * at(row + 1, col + 1));
    }

    // Whether a rival's blob edge is nearer to the pixel than this point's, at
    // ownDistance from it.
    bool Claimed(std::int32_t col, std::int32_t row, double ownDistance) const {
        for (std::int32_t n : rivals_) {
            const TBlobShape& other = shapes_[std::size_t(n)];
            if (std::hypot(col - other.X, row - other.Y) - other.Radius < ownDistance)
                return true;
        }
        return false;
    }

    static bool Competes(const TBlobShape& other, const TBlobShape& self) {
        if (other.Pixels == 0)
            return false;
        return double(other.Pixels) >= kCompetingShare * self.Pixels ||
               std::hypot(other.X - self.X, other.Y - self.Y) - other.Radius - self.Radius >
                   kCompetingGap;
    }

    // The median of values (reordered); 0 for none.
    static double Median(std::vector<std::int32_t>& values) {
        if (values.empty())
            return 0;
        const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
        std::nth_element(values.begin(), middle, values.end());
        double median = *middle;
        if (values.size() % 2 == 0)
            median = (median + *std::max_element(values.begin(), middle)) / 2;
        return median;
    }

    // Clips the patch's light to what a dot's profile allows: light never rises
    // along a ray from the centre pixel by more than the noise, so that past a
    // valley the light of a dot that has no code of its own (too dim, or lost to
    // noise) weighs nothing. A pixel's inward neighbour lies in a square ring
    // nearer the centre, so the rings are taken from the inside out.
    void ClipToProfile(double tolerance) {
        const auto at = [this](std::int32_t dx, std::int32_t dy) {
            return std::size_t(dy + half_) * std::size_t(side_) + std::size_t(dx + half_);
        };
        envelope_.assign(patch_.size(), 0);
        const std::size_t centre = at(0, 0);
        envelope_[centre] = patch_[centre] == kOutside ? kUnbounded : patch_[centre] + tolerance;
        for (std::int32_t ring = 1; ring <= half_; ++ring) {
            for (std::int32_t dy = -ring; dy <= ring; ++dy) {
                const std::int32_t step = (dy == -ring || dy == ring) ? 1 : 2 * ring;
                for (std::int32_t dx = -ring; dx <= ring; dx += step) {
                    const double length = std::sqrt(double(dx * dx + dy * dy));
                    const double inward = 1 - 1 / length;
                    const std::size_t parent = at(std::int32_t(std::lround(dx * inward)),
                                                  std::int32_t(std::lround(dy * inward)));
                    const std::size_t here = at(dx, dy);
                    const double bound = envelope_[parent];
                    if (patch_[here] == kOutside) {
                        envelope_[here] = bound;
                        continue;
                    }
                    envelope_[here] = std::min(bound, patch_[here] + tolerance);
                    if (patch_[here] > bound)
                        patch_[here] = std::int32_t(std::floor(bound));
                }
            }
        }
    }

    // The centroid of the light within reach of (x, y) above the level; false when
    // nothing lies above it.
    bool Centroid(std::int32_t peak, double x, double y, double reach, double& cx, double& cy,
                  bool& rimLit) {
        const double reach2 = reach * reach;
        const double inner = std::max(0.0, reach - kRingDepth);
        const double inner2 = inner * inner;
        auto forWindow = [&](auto&& f) {
            for (std::int32_t i = 0; i < side_; ++i) {
                const std::int32_t row = centreRow_ - half_ + i;
                const double dy = row - y;
                for (std::int32_t j = 0; j < side_; ++j) {
                    const std::int32_t value = patch_[std::size_t(i) * std::size_t(side_) + std::size_t(j)];
                    if (value == kOutside)
                        continue;
                    const std::int32_t col = centreCol_ - half_ + j;
                    const double dx = col - x;
                    const double dist2 = dx * dx + dy * dy;
                    if (dist2 <= reach2)
                        f(col, row, value, dist2 > inner2);
                }
            }
        };
        ring_.clear();
        forWindow([&](std::int32_t, std::int32_t, std::int32_t value, bool ring) {
            if (ring)
                ring_.push_back(value);
        });
        const double background = Median(ring_);
        background_ = background;
        // The spread of the rim's light about the background: the sensor's noise,
        // from the median absolute deviation, as a normal distribution's sigma.
        for (std::int32_t& v : ring_)
            v = std::int32_t(std::lround(std::fabs(v - background) * 2));
        const double noise = 1.4826 * Median(ring_) / 2;
        if (peak <= background)
            return false;
        // The profile is clipped with the picture's noise: the rim's own spread
        // also holds the light of whatever the clipping is to cut off.
        ClipToProfile(kNoiseLevel * noise_ + kQuantum);
        const double span = peak - background;
        const double level =
            std::max(0.0, background) +
            std::min(std::max(kLevel * span, kNoiseLevel * noise), kMaxLevel * span);
        double sum = 0, sumX = 0, sumY = 0;
        rimLit = false;
        forWindow([&](std::int32_t col, std::int32_t row, std::int32_t value, bool ring) {
            const double w = std::max(0, value) - level;
            if (w <= 0)
                return;
            sum += w;
            sumX += w * col;
            sumY += w * row;
            rimLit = rimLit || ring;
        });
        if (!(sum > 0))
            return false;
        cx = sumX / sum;
        cy = sumY / sum;
        return true;
    }

    const double noise_; // of the contrast in the background, as a sigma
    const TPic& dark_;
    const TPic& lit_;
    const TCode& codes_;
    const TBlobs& blobs_;
    const std::vector<std::int32_t>& mainBlob_;
    const std::vector<std::int32_t>& pointOfBlob_;
    const std::vector<TBlobShape>& shapes_;
    const TNeighbourGrid& grid_;
    std::vector<std::int32_t> near_;
    std::vector<std::int32_t> rivals_;
    std::vector<std::int32_t> ring_;
    // The patch: side_ × side_ pixels around the centre pixel, half_ on each side.
    std::int32_t centreCol_ = 0, centreRow_ = 0, half_ = 0, side_ = 0;
    std::vector<std::int32_t> patch_;
    std::vector<double> envelope_;
    double background_ = 0;
    bool rivalled_ = false;
    const std::vector<TRefinedPoint>* prior_ = nullptr;
    const std::vector<double>* priorBackground_ = nullptr;
};

// The sensor noise of the contrast where no dot is lit, as a normal sigma: from
// the median absolute difference of neighbouring pixels without a code, in every
// few rows, so that slow changes of the background do not count.
double BackgroundNoise(const TPic& dark, const TPic& lit, const TCode& codes) {
    std::vector<std::uint64_t> histogram(511, 0);
    std::uint64_t count = 0;
    const std::int32_t rowStep = std::max(1, codes.Height / 512);
    for (std::int32_t row = 0; row < codes.Height; row += rowStep) {
        const std::int32_t* code = codes.Data[row];
        const std::uint8_t* d = dark.Data[row];
        const std::uint8_t* l = lit.Data[row];
        for (std::int32_t col = 1; col < codes.Width; ++col) {
            if (code[col] != 0 || code[col - 1] != 0)
                continue;
            const int difference = (int(l[col]) - int(d[col])) - (int(l[col - 1]) - int(d[col - 1]));
            ++histogram[std::size_t(std::abs(difference))];
            ++count;
        }
    }
    if (count == 0)
        return 0;
    std::uint64_t seen = 0;
    std::size_t median = 0;
    while ((seen += histogram[median]) * 2 < count)
        ++median;
    // |a − b| of two normal values has the median 0.6745 · √2 · sigma.
    return double(median) * 1.4826 / std::numbers::sqrt2;
}

void CheckPlane(const TPic& plane, const TCode& codes, const char* which) {
    if (plane.Width != codes.Width || plane.Height != codes.Height)
        throw std::invalid_argument(std::string("the ") + which + " plane is " +
                                    std::to_string(plane.Width) + " x " +
                                    std::to_string(plane.Height) + ", the code matrix " +
                                    std::to_string(codes.Width) + " x " +
                                    std::to_string(codes.Height));
}

} // namespace

std::vector<TRefinedPoint> RefineCentres(const TPic& dark, const TPic& lit, const TCode& codes,
                                         const TUniquePoints& points, int threads) {
    CheckPlane(dark, codes, "dark");
    CheckPlane(lit, codes, "lit");
    const TBlobs blobs(codes, dark, lit);
    const std::size_t count = std::size_t(std::max(0, points.EntryCount));

    // Each point's main blob: its largest, the first from the top left among equals.
    std::vector<std::int32_t> mainBlob(count, -1);
    std::vector<std::int32_t> pointOfBlob(blobs.Blobs().size(), -1);
    for (std::size_t b = 0; b < blobs.Blobs().size(); ++b) {
        const TBlob& blob = blobs.Blobs()[b];
        const TUniquePoints::TFound found = points.FindCode(blob.Code);
        if (found.Absent || found.Index >= points.EntryCount)
            continue;
        std::int32_t& best = mainBlob[std::size_t(found.Index)];
        if (best < 0 || blob.Pixels > blobs.Blobs()[std::size_t(best)].Pixels)
            best = std::int32_t(b);
    }
    std::vector<TBlobShape> shapes(count);
    for (std::size_t p = 0; p < count; ++p) {
        if (mainBlob[p] < 0)
            continue;
        pointOfBlob[std::size_t(mainBlob[p])] = std::int32_t(p);
        const TBlob& blob = blobs.Blobs()[std::size_t(mainBlob[p])];
        TBlobShape& s = shapes[p];
        s.X = double(blob.SumX) / blob.Pixels;
        s.Y = double(blob.SumY) / blob.Pixels;
        s.Radius = std::sqrt(blob.Pixels / std::numbers::pi);
        s.Reach = kMaxGrowth * s.Radius + kMaxGrowthPixels;
        s.Pixels = blob.Pixels;
    }
    const TNeighbourGrid grid(shapes, codes.Width, codes.Height);
    const double noise = BackgroundNoise(dark, lit, codes);

    std::vector<TRefinedPoint> refined(count);
    std::vector<double> background(count, 0);
    std::vector<char> rivalled(count, 0);
    const int workers = ThreadsFor(threads);
    // More bands than threads, so that a band of large dots does not hold up the rest.
    const int bands = std::max(1, std::min<int>(int(count), workers * 8));
    // The first round sees every point alone. The second takes the light of the
    // first round's neighbours off before it refines again; a point that met no
    // neighbour would come out of it the same, and is passed over.
    for (int round = 0; round < 2; ++round) {
        const std::vector<TRefinedPoint> prior = round == 0 ? std::vector<TRefinedPoint>{} : refined;
        const std::vector<double> priorBackground = background;
        ForEachBand(std::int32_t(count), bands, workers,
                    [&](int, std::int32_t begin, std::int32_t end) {
                        TRefiner refiner(dark, lit, codes, blobs, mainBlob, pointOfBlob, shapes,
                                         grid, noise);
                        if (round > 0)
                            refiner.SetPrior(&prior, &priorBackground);
                        for (std::int32_t p = begin; p < end; ++p) {
                            const auto i = std::size_t(p);
                            if (round > 0 && !rivalled[i])
                                continue;
                            const bool met = refiner.Refine(p, points.Entries[i], refined[i],
                                                            background[i]);
                            if (round == 0)
                                rivalled[i] = met;
                        }
                    });
        if (std::none_of(rivalled.begin(), rivalled.end(), [](char r) { return r != 0; }))
            break;
    }
    return refined;
}

std::string RefineFlagNames(std::uint32_t flags) {
    std::string names;
    auto add = [&](std::uint32_t flag, const char* name) {
        if ((flags & flag) == 0)
            return;
        if (!names.empty())
            names += '|';
        names += name;
    };
    add(kRefineBorder, "border");
    add(kRefineNeighbour, "neighbour");
    add(kRefineNone, "unrefined");
    return names;
}

std::string PointTableText(const TUniquePoints& points, const std::vector<TRefinedPoint>& refined) {
    std::string text =
        "code,dot,x,y,pixels,refined_x,refined_y,blob_pixels,stray_pixels,contrast,radius,flags\n";
    const std::size_t count = std::min(std::size_t(std::max(0, points.EntryCount)), refined.size());
    text.reserve(text.size() + count * 80);
    for (std::size_t i = 0; i < count; ++i) {
        const TUniquePoint& point = points.Entries[i];
        const TRefinedPoint& r = refined[i];
        text += std::to_string(point.Code);
        text += ',';
        text += std::to_string((std::int64_t(point.Code) - 1) / 2);
        for (double v : {point.X, point.Y}) {
            text += ',';
            text += FormatFixed(v, 4);
        }
        text += ',';
        text += std::to_string(point.PixelCount);
        for (double v : {r.X, r.Y}) {
            text += ',';
            text += FormatFixed(v, 4);
        }
        text += ',';
        text += std::to_string(r.BlobPixels);
        text += ',';
        text += std::to_string(r.StrayPixels);
        text += ',';
        text += std::to_string(r.Contrast);
        text += ',';
        text += FormatFixed(r.Radius, 4);
        text += ',';
        text += RefineFlagNames(r.Flags);
        text += '\n';
    }
    return text;
}
