#include "Refine.h"

#include "Grid.h"
#include "Parallel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
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
// kRimPixels, at least kRimShare of the radius.
constexpr double kRimPixels = 3;
constexpr double kRimShare = 0.5;

double FirstReach(double radius) {
    return radius + std::max(kRimPixels, radius * kRimShare);
}
// The window widens a pixel at a time while lit pixels touch its rim, up to
// kMaxGrowth × radius + kMaxGrowthPixels; so the windows of all points together
// cover a bounded multiple of the picture, whatever the codes.
constexpr double kMaxGrowth = 2;
constexpr double kMaxGrowthPixels = 12;
// No window reaches farther than this: a blob whose first window would is no dot
// (a wall of one code, say) and is not refined.
constexpr double kMaxReach = 128;
// The light around a window is read this much wider than the window, so that a
// window that moves or widens a little needs no new reading.
constexpr double kPatchMargin = 2;
// The rim over which the background is taken, as a depth below the window's edge.
constexpr double kRingDepth = 1.5;
// The most steps a window takes (each widens it or moves it by a pixel or more).
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
    std::int32_t Code;
    std::int32_t Peak; // highest contrast
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
    TBlobs(const TCode& codes, const TPic& dark, const TPic& lit, int threads) : codes_(codes) {
        FindRuns(dark, lit, threads);
        JoinRuns();
        Measure();
    }

    const std::vector<TBlob>& Blobs() const { return blobs_; }

    /// The blob of the pixel at column col of the row whose cursor (RowCursor) is
    /// given; the pixel must carry a code. The cursor moves on as columns rise.
    std::int32_t BlobAt(std::int32_t col, std::size_t& cursor) const {
        while (run_[cursor].End <= col)
            ++cursor;
        return run_[cursor].Comp;
    }
    /// The blob of the pixel at (row, col); −1 for a pixel without a code.
    std::int32_t BlobAtPixel(std::int32_t row, std::int32_t col) const {
        const std::size_t i = RowCursor(row, col);
        if (i == RowEnd(row) || run_[i].Begin > col)
            return -1;
        return run_[i].Comp;
    }
    /// The run at index i, and the index after the last run of row.
    const TRun& Run(std::size_t i) const { return run_[i]; }
    std::size_t RowEnd(std::int32_t row) const { return rowStart_[std::size_t(row) + 1]; }
    /// The cursor for the first run of row that ends after col.
    std::size_t RowCursor(std::int32_t row, std::int32_t col) const {
        const auto first = run_ + std::ptrdiff_t(rowStart_[std::size_t(row)]);
        const auto last = run_ + std::ptrdiff_t(rowStart_[std::size_t(row) + 1]);
        return std::size_t(
            std::upper_bound(first, last, col,
                             [](std::int32_t c, const TRun& run) { return c < run.End; }) -
            run_);
    }

private:
    // The runs of every row, in bands of rows that threads share: counted first,
    // so that they are written once into storage of their exact size (fresh
    // memory is dear, and a growing array would take it several times over).
    void FindRuns(const TPic& dark, const TPic& lit, int threads) {
        const int bands = std::clamp(threads, 1, std::max(1, codes_.Height));
        rowStart_.assign(std::size_t(codes_.Height) + 1, 0);
        ForEachBand(codes_.Height, bands, threads, [&](int, std::int32_t begin, std::int32_t end) {
            for (std::int32_t row = begin; row < end; ++row)
                rowStart_[std::size_t(row) + 1] = ScanRow(row, [](std::int32_t, std::int32_t) {});
        });
        for (std::size_t row = 1; row < rowStart_.size(); ++row)
            rowStart_[row] += rowStart_[row - 1];
        if (rowStart_.back() > std::size_t(INT32_MAX))
            throw std::length_error("too many runs of codes"); // beyond any plane size
        runs_.Resize(1, std::int32_t(rowStart_.back()));
        run_ = runs_.data();
        ForEachBand(codes_.Height, bands, threads, [&](int, std::int32_t begin, std::int32_t end) {
            for (std::int32_t row = begin; row < end; ++row) {
                const std::int32_t* code = codes_.Data[row];
                const std::uint8_t* d = dark.Data[row];
                const std::uint8_t* l = lit.Data[row];
                std::size_t i = rowStart_[std::size_t(row)];
                ScanRow(row, [&](std::int32_t first, std::int32_t next) {
                    std::int32_t peak = INT32_MIN;
                    for (std::int32_t col = first; col < next; ++col)
                        peak = std::max(peak, int(l[col]) - int(d[col]));
                    run_[i] = {first, next, std::int32_t(i), code[first], peak};
                    ++i;
                });
            }
        });
    }

    // Calls run(first, next) for every run of equal codes other than 0 in the row,
    // from the left; returns their number.
    template <class F> std::size_t ScanRow(std::int32_t row, F&& run) const {
        const std::int32_t* code = codes_.Data[row];
        std::size_t count = 0;
        for (std::int32_t col = 0; col < codes_.Width;) {
            if (code[col] == 0) {
                // Most pixels lie on no dot: eight at a time where they can.
                col += col + 8 <= codes_.Width && AllZero8(code + col) ? 8 : 1;
                continue;
            }
            std::int32_t next = col + 1;
            while (next < codes_.Width && code[next] == code[col])
                ++next;
            run(col, next);
            ++count;
            col = next;
        }
        return count;
    }

    std::int32_t Root(std::int32_t run) {
        while (run_[std::size_t(run)].Comp != run) {
            TRun& r = run_[std::size_t(run)];
            r.Comp = run_[std::size_t(r.Comp)].Comp; // halve the path
            run = r.Comp;
        }
        return run;
    }

    // Joins the runs of one code that touch, diagonally included, into blobs; each
    // blob's root is its first run from the top left.
    void JoinRuns() {
        for (std::int32_t row = 1; row < codes_.Height; ++row) {
            std::size_t j = rowStart_[std::size_t(row) - 1];
            const std::size_t aboveEnd = rowStart_[std::size_t(row)];
            for (std::size_t i = aboveEnd; i < rowStart_[std::size_t(row) + 1]; ++i) {
                const TRun run = run_[i];
                while (j < aboveEnd && run_[j].End < run.Begin)
                    ++j;
                for (std::size_t k = j; k < aboveEnd && run_[k].Begin <= run.End; ++k) {
                    if (run_[k].Code != run.Code)
                        continue;
                    const std::int32_t a = Root(std::int32_t(i));
                    const std::int32_t b = Root(std::int32_t(k));
                    if (a != b)
                        run_[std::size_t(std::max(a, b))].Comp = std::min(a, b);
                }
            }
        }
        // Parents precede their runs, so one pass in order resolves every run.
        std::int32_t blobs = 0;
        for (std::size_t i = 0; i < rowStart_.back(); ++i) {
            TRun& run = run_[i];
            if (run.Comp == std::int32_t(i)) {
                run.Comp = blobs++;
                continue;
            }
            run.Comp = run_[std::size_t(run.Comp)].Comp;
        }
        blobs_.resize(std::size_t(blobs));
    }

    void Measure() {
        for (std::int32_t row = 0; row < codes_.Height; ++row) {
            for (std::size_t i = rowStart_[std::size_t(row)]; i < rowStart_[std::size_t(row) + 1];
                 ++i) {
                const TRun& run = run_[i];
                TBlob& blob = blobs_[std::size_t(run.Comp)];
                const std::int64_t n = run.End - run.Begin;
                blob.Code = run.Code;
                blob.Pixels += std::int32_t(n);
                blob.SumX += n * run.Begin + n * (n - 1) / 2;
                blob.SumY += n * row;
                blob.Peak = std::max(blob.Peak, run.Peak);
            }
        }
    }

    const TCode& codes_;
    TGrid<TRun> runs_; // one row: on huge pages, where a few faults bring megabytes
    TRun* run_ = nullptr;
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

    /// Calls f(point) for every point whose blob square touches the square of half
    /// side reach around (x, y), some more than once.
    template <class F> void Near(double x, double y, double reach, F&& f) const {
        ForCells(x, y, reach, [&](std::size_t cell) {
            for (std::size_t i = start_[cell]; i < start_[cell + 1]; ++i)
                f(items_[i]);
        });
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

    explicit TStencil(std::int32_t radius) : radius_(radius) {
        const std::int32_t side = 2 * radius + 1;
        for (std::int32_t dy = -radius; dy <= radius; ++dy)
            for (std::int32_t dx = -radius; dx <= radius; ++dx)
                if (dx * dx + dy * dy <= radius * radius)
                    entries_.push_back({dx, dy, dx * dx + dy * dy, 0});
        std::sort(entries_.begin(), entries_.end(), [](const TEntry& a, const TEntry& b) {
            if (a.Distance2 != b.Distance2)
                return a.Distance2 < b.Distance2;
            return a.Dy != b.Dy ? a.Dy < b.Dy : a.Dx < b.Dx;
        });
        std::vector<std::int32_t> index(std::size_t(side) * std::size_t(side), -1);
        auto at = [&](std::int32_t dx, std::int32_t dy) -> std::int32_t& {
            return index[std::size_t(dy + radius) * std::size_t(side) + std::size_t(dx + radius)];
        };
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            TEntry& e = entries_[i];
            at(e.Dx, e.Dy) = std::int32_t(i);
            if (i == 0)
                continue;
            // The rounded point one pixel nearer along the ray lies strictly nearer.
            const double inward = 1 - 1 / std::sqrt(double(e.Distance2));
            e.Parent = at(std::int32_t(std::lround(e.Dx * inward)),
                          std::int32_t(std::lround(e.Dy * inward)));
        }
        within_.assign(std::size_t(radius) * std::size_t(radius) + 1, 0);
        for (const TEntry& e : entries_)
            ++within_[std::size_t(e.Distance2)];
        for (std::size_t d = 1; d < within_.size(); ++d)
            within_[d] += within_[d - 1];
    }

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
constexpr std::int32_t kStencilRadius = 48;

const TStencil& CommonStencil() {
    static const TStencil stencil(kStencilRadius);
    return stencil;
}

// Refines the points one at a time; one object per thread. A window is a disc
// around a centre pixel; its light is read once per place and size.
class TRefiner {
public:
    TRefiner(const TPic& dark, const TPic& lit, const TCode& codes, const TBlobs& blobs,
             const std::vector<std::int32_t>& mainBlob,
             const std::vector<std::int32_t>& pointOfBlob, const std::vector<TBlobShape>& shapes,
             const TNeighbourGrid& grid, double noise)
        : noise_(noise), dark_(dark), lit_(lit), codes_(codes), blobs_(blobs), mainBlob_(mainBlob),
          pointOfBlob_(pointOfBlob), shapes_(shapes), grid_(grid) {}

    /// Light of other points to take off before refining: their refined centres and
    /// backgrounds from a first round.
    void SetPrior(const std::vector<TRefinedPoint>* prior, const std::vector<double>* background) {
        prior_ = prior;
        priorBackground_ = background;
    }

    /// Refines one point into out and its background; true when a neighbour came
    /// close enough to claim pixels of its window.
    bool Refine(std::int32_t point, const TUniquePoint& entry, TRefinedPoint& out,
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
        out.Contrast = std::max(0, blob.Peak);
        out.Radius = shape.Radius;
        if (blob.Pixels < 2 || FirstReach(shape.Radius) > kMaxReach ||
            !Settle(point, blobIndex, out))
            out.Flags |= kRefineNone;
        background = background_;
        return rivalled_;
    }

private:
    // Patch values that are no light: off the picture or not this point's, and a
    // pixel of a competing neighbour's blob. Every light value lies above kLowest.
    static constexpr std::int32_t kOutside = INT32_MIN;
    static constexpr std::int32_t kRival = INT32_MIN + 1;
    static constexpr std::int32_t kLowest = INT32_MIN + 2;

    // Moves the window until its centre pixel holds the centroid; false when no
    // pixel of it carries light above the level.
    bool Settle(std::int32_t point, std::int32_t blobIndex, TRefinedPoint& out) {
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

    // The competing neighbours that any window of the point may meet, into near_,
    // each once, in rising order.
    void FindRivals(std::int32_t point) {
        const TBlobShape& self = shapes_[std::size_t(point)];
        near_.clear();
        grid_.Near(self.X, self.Y, 2 * self.Reach, [&](std::int32_t n) {
            const TBlobShape& other = shapes_[std::size_t(n)];
            if (n == point || !Competes(other, self))
                return;
            // Within reach of the widest window's rivals, seen from any centre it may
            // take; the centre keeps near the blob.
            if (std::hypot(other.X - self.X, other.Y - self.Y) <
                2 * self.Reach + other.Radius - self.Radius + self.Reach)
                near_.push_back(n);
        });
        std::sort(near_.begin(), near_.end());
        near_.erase(std::unique(near_.begin(), near_.end()), near_.end());
    }

    // Reads the light of the window of radius reach around the centre pixel (col,
    // row) into light_, in the stencil's order; kOutside for pixels off the picture
    // or claimed by a rival, kRival for a competing neighbour's blob. Returns the
    // border flag.
    std::uint32_t Gather(std::int32_t point, std::int32_t blobIndex, std::int32_t col,
                         std::int32_t row, double reach) {
        const TBlobShape& self = shapes_[std::size_t(point)];
        // Neighbours that may claim a pixel of the window: a pixel p in it is
        // theirs when |p − c_n| − r_n < |p − c| − r, which needs the centres to be
        // closer than 2 reach + r_n − r.
        rivals_.clear();
        for (std::int32_t n : near_) {
            const TBlobShape& other = shapes_[std::size_t(n)];
            if (std::hypot(other.X - col, other.Y - row) < 2 * reach + other.Radius - self.Radius)
                rivals_.push_back(n);
        }
        rivalled_ = rivalled_ || !rivals_.empty();
        const bool cut = col - reach < 0 || row - reach < 0 || col + reach > codes_.Width - 1 ||
                         row + reach > codes_.Height - 1;
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

    // Reads the light of the pixels within patchReach_ of the patch's centre
    // pixel into patch_, row by row.
    void ReadPatch(const TBlobShape& self, std::int32_t blobIndex) {
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
            if (r < 0 || r >= codes_.Height)
                continue;
            const std::int32_t half = halfWidth_[std::size_t(std::abs(dy))];
            if (half < 0)
                continue;
            const std::int32_t c0 = std::max(0, col - half);
            const std::int32_t c1 = std::min(codes_.Width - 1, col + half);
            if (c0 > c1)
                continue;
            const std::uint8_t* l = lit_.Data[r];
            const std::uint8_t* d = dark_.Data[r];
            std::int32_t* out = &patch_[std::size_t(dy + radius) * std::size_t(side) +
                                        std::size_t(c0 - col + radius)];
            for (std::int32_t c = c0; c <= c1; ++c)
                out[c - c0] = int(l[c]) - int(d[c]);
            // The runs of codes that cross the row's span: competing neighbours'
            // blobs are no light of this point's.
            for (std::size_t i = blobs_.RowCursor(r, c0); i < blobs_.RowEnd(r); ++i) {
                const TRun& run = blobs_.Run(i);
                if (run.Begin > c1)
                    break;
                const std::int32_t owner = pointOfBlob_[std::size_t(run.Comp)];
                if (run.Comp == blobIndex || owner < 0 ||
                    !Competes(shapes_[std::size_t(owner)], self))
                    continue;
                std::fill(out + (std::max(run.Begin, c0) - c0),
                          out + (std::min(run.End - 1, c1) - c0 + 1), kRival);
            }
            if (rivals_.empty())
                continue;
            // Pixels nearer a rival than this point are the rival's; of those that
            // are left, the light the rivals throw is taken off once they are known.
            for (std::int32_t c = c0; c <= c1; ++c) {
                std::int32_t& value = out[c - c0];
                if (value == kRival)
                    continue;
                const double dx = c - col;
                if (blobs_.BlobAtPixel(r, c) != blobIndex &&
                    Claimed(c, r, std::sqrt(dx * dx + double(dy) * dy) - self.Radius)) {
                    value = kOutside;
                    continue;
                }
                if (prior_)
                    value -= std::int32_t(std::lround(RivalLight(c, r)));
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
            const double reach = FirstReach(radius);
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

    // The median of values (the mean of the two middle ones for an even count); 0
    // for none. The values of a window's rim are grey levels close together, so
    // they are counted rather than sorted; values is left reordered or as it was.
    double Median(std::vector<std::int32_t>& values) {
        if (values.empty())
            return 0;
        const auto [lowest, highest] = std::minmax_element(values.begin(), values.end());
        const std::int32_t low = *lowest;
        const std::int64_t range = std::int64_t(*highest) - low + 1;
        if (range > kMaxCountedRange) {
            const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
            std::nth_element(values.begin(), middle, values.end());
            double median = *middle;
            if (values.size() % 2 == 0)
                median = (median + *std::max_element(values.begin(), middle)) / 2;
            return median;
        }
        counts_.assign(std::size_t(range), 0);
        for (std::int32_t v : values)
            ++counts_[std::size_t(v - low)];
        // The values at positions (n − 1) / 2 and n / 2 in sorted order.
        const std::size_t lowerPosition = (values.size() - 1) / 2,
                          upperPosition = values.size() / 2;
        std::size_t seen = 0;
        std::int32_t lower = low, upper = low;
        bool haveLower = false;
        for (std::size_t bin = 0; bin < counts_.size(); ++bin) {
            seen += counts_[bin];
            if (!haveLower && seen > lowerPosition) {
                lower = low + std::int32_t(bin);
                haveLower = true;
            }
            if (seen > upperPosition) {
                upper = low + std::int32_t(bin);
                break;
            }
        }
        return (double(lower) + double(upper)) / 2;
    }

    // The centroid (x, y) of the window's light above the level; false when nothing
    // lies above it. rimLit: whether light above the level reaches the window's rim.
    bool Centroid(std::int32_t peak, double& x, double& y, bool& rimLit, std::uint32_t& flags) {
        const double inner = std::max(0.0, windowReach_ - kRingDepth);
        const std::size_t rimStart = stencil_->Within(inner * inner);
        const std::int32_t* light = patch_.data() + centreIndex_;
        auto at = [&](std::size_t i) {
            const TStencil::TEntry& e = (*stencil_)[i];
            return light[std::ptrdiff_t(e.Dy) * side_ + e.Dx];
        };
        ring_.clear();
        for (std::size_t i = rimStart; i < size_; ++i)
            if (at(i) >= kLowest)
                ring_.push_back(at(i));
        const double background = Median(ring_);
        background_ = background;
        // The spread of the rim's light about the background: the sensor's noise,
        // from the median absolute deviation, as a normal distribution's sigma.
        // Twice the background is a whole number.
        const auto twiceBackground = std::int32_t(2 * background);
        for (std::int32_t& v : ring_)
            v = std::abs(2 * v - twiceBackground);
        const double noise = 1.4826 * Median(ring_) / 2;
        if (peak <= background)
            return false;
        const double span = peak - background;
        const double level =
            std::max(0.0, background) +
            std::min(std::max(kLevel * span, kNoiseLevel * noise), kMaxLevel * span);
        // The light is clipped to what a dot's profile allows: it never rises along
        // a ray from the centre pixel by more than the picture's noise, so that past
        // a valley the light of a dot without a code of its own (too dim, or lost to
        // noise) weighs nothing. The rim's own spread would also hold the light that
        // is to be cut off, so the picture's noise sets the tolerance.
        const auto tolerance = std::int32_t(std::ceil(kNoiseLevel * noise_ + kQuantum));
        bound_.resize(size_);
        double sum = 0, sumX = 0, sumY = 0;
        rimLit = false;
        for (std::size_t i = 0; i < size_; ++i) {
            const TStencil::TEntry& e = (*stencil_)[i];
            const std::int32_t inherited = i == 0 ? kUnbounded : bound_[std::size_t(e.Parent)];
            const std::int32_t value = light[std::ptrdiff_t(e.Dy) * side_ + e.Dx];
            if (value < kLowest) {
                bound_[i] = inherited;
                if (value == kRival)
                    flags |= kRefineNeighbour;
                continue;
            }
            bound_[i] = std::min(inherited, value + tolerance);
            const double w = std::min(std::max(0, value), inherited) - level;
            if (w <= 0)
                continue;
            sum += w;
            sumX += w * e.Dx;
            sumY += w * e.Dy;
            rimLit = rimLit || i >= rimStart;
        }
        if (!(sum > 0))
            return false;
        x = windowCol_ + sumX / sum;
        y = windowRow_ + sumY / sum;
        return true;
    }

    static constexpr std::int32_t kUnbounded = INT32_MAX / 2;

    const double noise_; // of the contrast in the background, as a sigma
    const TPic& dark_;
    const TPic& lit_;
    const TCode& codes_;
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
    std::vector<std::uint32_t> counts_; // for Median
    static constexpr std::int64_t kMaxCountedRange = 2048;
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

// The sensor noise of the contrast where no dot is lit, as a normal sigma: from
// the median absolute difference of neighbouring pixels without a code, in every
// few rows, so that slow changes of the background do not count.
double BackgroundNoise(const TPic& dark, const TPic& lit, const TCode& codes) {
    std::vector<std::uint64_t> histogram(511, 0);
    std::uint64_t count = 0;
    const std::int32_t rowStep = std::max(4, codes.Height / 256);
    for (std::int32_t row = 0; row < codes.Height; row += rowStep) {
        const std::int32_t* code = codes.Data[row];
        const std::uint8_t* d = dark.Data[row];
        const std::uint8_t* l = lit.Data[row];
        for (std::int32_t col = 1; col < codes.Width; ++col) {
            if (code[col] != 0 || code[col - 1] != 0)
                continue;
            const int difference =
                (int(l[col]) - int(d[col])) - (int(l[col - 1]) - int(d[col - 1]));
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
        throw std::invalid_argument(
            std::string("the ") + which + " plane is " + std::to_string(plane.Width) + " x " +
            std::to_string(plane.Height) + ", the code matrix " + std::to_string(codes.Width) +
            " x " + std::to_string(codes.Height));
}

} // namespace

std::vector<TRefinedPoint> RefineCentres(const TPic& dark, const TPic& lit, const TCode& codes,
                                         const TUniquePoints& points, int threads) {
    CheckPlane(dark, codes, "dark");
    CheckPlane(lit, codes, "lit");
    const TBlobs blobs(codes, dark, lit, ThreadsFor(threads));
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
        s.Reach = std::min(kMaxGrowth * s.Radius + kMaxGrowthPixels, kMaxReach);
        s.Pixels = blob.Pixels;
    }
    const TNeighbourGrid grid(shapes, codes.Width, codes.Height);
    const double noise = BackgroundNoise(dark, lit, codes);

    // Points are taken in bands of rows, left to right, so that the windows that
    // follow each other share the rows of the planes and the codes in the cache.
    // The order changes nothing else: every point is refined on its own.
    constexpr std::int32_t kOrderRows = 32;
    std::vector<std::pair<std::uint64_t, std::int32_t>> order(count);
    for (std::size_t p = 0; p < count; ++p) {
        const std::int64_t band = std::int64_t(std::max(0.0, shapes[p].Y)) / kOrderRows;
        const std::int64_t column = std::int64_t(std::max(0.0, shapes[p].X));
        order[p] = {std::uint64_t(band) << 32 | std::uint64_t(column), std::int32_t(p)};
    }
    std::sort(order.begin(), order.end());

    std::vector<TRefinedPoint> refined(count);
    std::vector<double> background(count, 0);
    std::vector<char> rivalled(count, 0);
    const int workers = ThreadsFor(threads);
    // More bands than threads, so that a band of large dots does not hold up the rest.
    const int bands = std::max(1, std::min<int>(int(count), workers * 8));
    // The first round sees every point alone. The second takes the light of the
    // first round's neighbours off before it refines again; a point that met no
    // neighbour would come out of it the same, and is passed over.
    auto refineAll = [&](const std::vector<TRefinedPoint>* prior,
                         const std::vector<double>* priorBackground) {
        ForEachBand(std::int32_t(count), bands, workers,
                    [&](int, std::int32_t begin, std::int32_t end) {
                        TRefiner refiner(dark, lit, codes, blobs, mainBlob, pointOfBlob, shapes,
                                         grid, noise);
                        refiner.SetPrior(prior, priorBackground);
                        for (std::int32_t k = begin; k < end; ++k) {
                            const auto i = std::size_t(order[std::size_t(k)].second);
                            if (prior && !rivalled[i])
                                continue;
                            const bool met = refiner.Refine(std::int32_t(i), points.Entries[i],
                                                            refined[i], background[i]);
                            if (!prior)
                                rivalled[i] = met;
                        }
                    });
    };
    refineAll(nullptr, nullptr);
    if (std::any_of(rivalled.begin(), rivalled.end(), [](char r) { return r != 0; })) {
        const std::vector<TRefinedPoint> prior = refined;
        const std::vector<double> priorBackground = background;
        refineAll(&prior, &priorBackground);
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
