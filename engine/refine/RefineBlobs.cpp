#include "refine/RefineBlobs.h"

#include "base/Parallel.h"

#include <stdexcept>

namespace refine_detail {

void TBlobs::FindRuns(const TLight& light, int threads) {
    const std::int32_t height = codes_.Height();
    const int bands = std::clamp(threads, 1, std::max(1, height));
    if (codes_.Count() > std::size_t(INT32_MAX))
        throw std::length_error("too many runs of codes"); // beyond any plane size
    runs_.Resize(1, std::int32_t(codes_.Count()));
    run_ = runs_.data();
    ForEachBand(height, bands, threads, [&](int, std::int32_t begin, std::int32_t end) {
        std::vector<std::int32_t> values;
        for (std::int32_t row = begin; row < end; ++row) {
            for (std::size_t i = codes_.RowBegin(row); i < codes_.RowEnd(row); ++i) {
                const TCodeRun& run = codes_[i];
                values.resize(std::size_t(run.End - run.Begin));
                light.Row(row, run.Begin, run.End - 1, values.data());
                const std::int32_t peak = *std::max_element(values.begin(), values.end());
                std::int32_t contrast = light.Deep() ? INT32_MIN : peak;
                if (light.Deep())
                    for (std::int32_t col = run.Begin; col < run.End; ++col)
                        contrast = std::max(contrast, light.Contrast(row, col));
                run_[i] = {run.Begin, run.End, std::int32_t(i), run.Code, peak, contrast};
            }
        }
    });
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
    for (std::int32_t row = 1; row < codes_.Height(); ++row) {
        std::size_t j = codes_.RowBegin(row - 1);
        const std::size_t aboveEnd = codes_.RowBegin(row);
        for (std::size_t i = aboveEnd; i < codes_.RowEnd(row); ++i) {
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
    for (std::size_t i = 0; i < codes_.Count(); ++i) {
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
    for (std::int32_t row = 0; row < codes_.Height(); ++row) {
        for (std::size_t i = codes_.RowBegin(row); i < codes_.RowEnd(row); ++i) {
            const TRun& run = run_[i];
            TBlob& blob = blobs_[std::size_t(run.Comp)];
            const std::int64_t n = run.End - run.Begin;
            blob.Code = run.Code;
            blob.Pixels += std::int32_t(n);
            blob.SumX += n * run.Begin + n * (n - 1) / 2;
            blob.SumY += n * row;
            blob.Peak = std::max(blob.Peak, run.Peak);
            blob.Contrast = std::max(blob.Contrast, run.Contrast);
        }
    }
}

TNeighbourGrid::TNeighbourGrid(const std::vector<TBlobShape>& shapes, std::int32_t width,
                               std::int32_t height)
    : columns_(width / kCellPixels + 1), rows_(height / kCellPixels + 1) {
    start_.assign(std::size_t(columns_) * std::size_t(rows_) + 1, 0);
    cells_.resize(shapes.size());
    for (std::size_t p = 0; p < shapes.size(); ++p)
        if (shapes[p].Pixels != 0)
            cells_[p] = CellsAround(shapes[p].X, shapes[p].Y, shapes[p].Radius);
    // Each blob goes into every cell its disc's square touches; counted first.
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t p = 0; p < shapes.size(); ++p) {
            ForCells(cells_[p], [&](std::int32_t, std::int32_t, std::size_t cell) {
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
