#include "decode/CodeRuns.h"

#include "base/Parallel.h"

#include <algorithm>
#include <stdexcept>

TCodeRuns::TCodeRuns(const TCode& codes, int threads) {
    const int bands = std::clamp(ThreadsFor(threads), 1, std::max(1, codes.Height));
    TCodeRunsBuilder builder(codes.Width, codes.Height, bands);
    ForEachBand(codes.Height, bands, ThreadsFor(threads),
                [&](int band, std::int32_t begin, std::int32_t end) {
                    for (std::int32_t row = begin; row < end; ++row)
                        builder.AddRow(band, row, codes.Data[row]);
                });
    *this = builder.Finish();
}

TCodeRunsBuilder::TCodeRunsBuilder(std::int32_t width, std::int32_t height, int bands)
    : width_(width), height_(height), rowRuns_(std::size_t(std::max(0, height)), 0),
      bands_(std::size_t(std::max(1, bands))) {}

void TCodeRunsBuilder::AddRow(int band, std::int32_t row, const std::int32_t* codes) {
    std::vector<TCodeRun>& runs = bands_[std::size_t(band)];
    rowRuns_[std::size_t(row)] =
        std::uint32_t(ForEachCodeRun(codes, width_, [&](std::int32_t first, std::int32_t next) {
            runs.push_back({first, next, codes[first]});
        }));
}

void TCodeRunsBuilder::AddRuns(int band, std::int32_t row, const TCodeRun* runs,
                               std::size_t count) {
    bands_[std::size_t(band)].insert(bands_[std::size_t(band)].end(), runs, runs + count);
    rowRuns_[std::size_t(row)] = std::uint32_t(count);
}

TCodeRuns TCodeRunsBuilder::Finish() {
    TCodeRuns result;
    result.width_ = width_;
    result.height_ = height_;
    result.rowStart_.assign(rowRuns_.size() + 1, 0);
    for (std::size_t row = 0; row < rowRuns_.size(); ++row)
        result.rowStart_[row + 1] = result.rowStart_[row] + rowRuns_[row];
    result.runs_.reserve(result.rowStart_.back());
    for (std::vector<TCodeRun>& band : bands_) {
        result.runs_.insert(result.runs_.end(), band.begin(), band.end());
        std::vector<TCodeRun>().swap(band);
    }
    if (result.runs_.size() != result.rowStart_.back())
        throw std::logic_error("runs of codes handed in out of order");
    return result;
}
