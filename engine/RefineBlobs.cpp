#include "RefineBlobs.h"

#include "Parallel.h"

#include <stdexcept>

namespace refine_detail {

void TBlobs::FindRuns(const TPic& dark, const TPic& lit, int threads) {
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

template <class F> std::size_t TBlobs::ScanRow(std::int32_t row, F&& run) const {
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

std::int32_t TBlobs::Root(std::int32_t run) {
    while (run_[std::size_t(run)].Comp != run) {
        TRun& r = run_[std::size_t(run)];
        r.Comp = run_[std::size_t(r.Comp)].Comp; // halve the path
        run = r.Comp;
    }
    return run;
}

void TBlobs::JoinRuns() {
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

void TBlobs::Measure() {
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

TNeighbourGrid::TNeighbourGrid(const std::vector<TBlobShape>& shapes, std::int32_t width,
                               std::int32_t height)
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

} // namespace refine_detail
