#pragma once
// The code matrix cut into blobs of one code, and the points' main blobs filed by
// position: what the refined centres start from.

#include "decode/CodeRuns.h"
#include "base/Grid.h"
#include "refine/RefineLight.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace refine_detail {

// A run of pixels of one code in one row: columns Begin … End − 1. Comp is first a
// union-find parent (a run index no higher than the run's own), then the blob.
struct TRun {
    std::int32_t Begin;
    std::int32_t End;
    std::int32_t Comp;
    std::int32_t Code;
    std::int32_t Peak;     // highest light
    std::int32_t Contrast; // highest plane 2 − plane 0
};

// One 8-connected blob: a set of pixels of one code.
struct TBlob {
    std::int32_t Code = 0;
    std::int32_t Pixels = 0;
    std::int64_t SumX = 0;
    std::int64_t SumY = 0;
    std::int32_t Peak = 0;     // highest light
    std::int32_t Contrast = 0; // highest plane 2 − plane 0
};

// The main blob of a point, as its neighbours see it.
struct TBlobShape {
    double X = 0, Y = 0; // centre
    double Radius = 0;   // of a disc of its area
    double Reach = 0;    // the farthest its window may reach
    std::int32_t Pixels = 0;
};

// The codes cut into blobs.
class TBlobs {
public:
    // checkStop, when given, is called between the steps; what it raises stops them.
    TBlobs(const TCodeRuns& codes, const TLight& light, int threads,
           const std::function<void()>& checkStop = {})
        : codes_(codes) {
        FindRuns(light, threads);
        if (checkStop)
            checkStop();
        JoinRuns();
        if (checkStop)
            checkStop();
        Measure();
    }

    const std::vector<TBlob>& Blobs() const { return blobs_; }

    /// The run at index i, and the index after the last run of row.
    const TRun& Run(std::size_t i) const { return run_[i]; }
    std::size_t RowEnd(std::int32_t row) const { return codes_.RowEnd(row); }
    /// The cursor for the first run of row that ends after col.
    std::size_t RowCursor(std::int32_t row, std::int32_t col) const {
        const auto first = run_ + std::ptrdiff_t(codes_.RowBegin(row));
        const auto last = run_ + std::ptrdiff_t(codes_.RowEnd(row));
        return std::size_t(
            std::upper_bound(first, last, col,
                             [](std::int32_t c, const TRun& run) { return c < run.End; }) -
            run_);
    }

private:
    // The runs of every row with the peaks of their light, in bands of rows that
    // threads share, written once into storage of their exact size (fresh memory
    // is dear).
    void FindRuns(const TLight& light, int threads);

    std::int32_t Root(std::int32_t run);

    // Joins the runs of one code that touch, diagonally included, into blobs; each
    // blob's root is its first run from the top left.
    void JoinRuns();

    void Measure();

    const TCodeRuns& codes_;
    TGrid<TRun> runs_; // one row, mapped whole, its pages written once
    TRun* run_ = nullptr;
    std::vector<TBlob> blobs_;
};

// Blob centres are filed in square cells of this many pixels to find neighbours.
inline constexpr std::int32_t kCellPixels = 16;

// The points' main blobs filed by position, to find the ones near a point.
class TNeighbourGrid {
public:
    TNeighbourGrid(const std::vector<TBlobShape>& shapes, std::int32_t width, std::int32_t height);

    /// Calls f(point) once for every point whose blob square shares a cell with the
    /// square of half side reach around (x, y).
    template <class F> void Near(double x, double y, double reach, F&& f) const {
        const TCells query = CellsAround(x, y, reach);
        ForCells(query, [&](std::int32_t row, std::int32_t col, std::size_t cell) {
            for (std::size_t i = start_[cell]; i < start_[cell + 1]; ++i) {
                // A point filed in several of the cells is taken in the first of
                // them that the query meets.
                const std::int32_t p = items_[i];
                const TCells& own = cells_[std::size_t(p)];
                if (col == std::max(query.FirstCol, own.FirstCol) &&
                    row == std::max(query.FirstRow, own.FirstRow))
                    f(p);
            }
        });
    }

private:
    // The cells a square covers, first and last column and row.
    struct TCells {
        std::int32_t FirstCol = 0, LastCol = -1, FirstRow = 0, LastRow = -1;
    };
    TCells CellsAround(double x, double y, double half) const {
        auto cell = [](double v, std::int32_t cells) {
            return std::int32_t(std::clamp(std::floor(v / kCellPixels), 0.0, double(cells - 1)));
        };
        return {cell(x - half, columns_), cell(x + half, columns_), cell(y - half, rows_),
                cell(y + half, rows_)};
    }
    template <class F> void ForCells(const TCells& cells, F&& f) const {
        for (std::int32_t r = cells.FirstRow; r <= cells.LastRow; ++r)
            for (std::int32_t c = cells.FirstCol; c <= cells.LastCol; ++c)
                f(r, c, std::size_t(r) * std::size_t(columns_) + std::size_t(c));
    }

    std::int32_t columns_, rows_;
    std::vector<std::size_t> start_;
    std::vector<std::size_t> fill_;
    std::vector<std::int32_t> items_;
    std::vector<TCells> cells_; // of each point's blob square; none without a blob
};

} // namespace refine_detail
