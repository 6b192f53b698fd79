#pragma once
// The codes as runs: in each row, the stretches of pixels that share one code
// other than 0. All that the refined centres need of the codes, in a small part of
// a code matrix's memory, and gathered as the rows of codes are made.

#include "decode/CodeMatrix.h"

#include <cstddef>
#include <cstdint>
#include <vector>

/// One run: columns Begin … End − 1 of a row hold Code.
struct TCodeRun {
    std::int32_t Begin = 0;
    std::int32_t End = 0;
    std::int32_t Code = 0;
};

/// Calls run(first, next) for every run of equal codes other than 0 among the width
/// codes of a row, from the left; returns how many there are.
template <class F>
std::size_t ForEachCodeRun(const std::int32_t* code, std::int32_t width, F&& run) {
    std::size_t count = 0;
    for (std::int32_t col = 0; col < width;) {
        // Most pixels lie on no dot: eight codes of 0 at a time where they can.
        if (col + 8 <= width && AllZero8(code + col)) {
            col += 8;
            continue;
        }
        std::int32_t next = col + 1;
        while (next < width && code[next] == code[col])
            ++next;
        if (code[col] != 0) {
            run(col, next);
            ++count;
        }
        col = next;
    }
    return count;
}

/// The runs of every row of a Width × Height picture of codes, row after row.
class TCodeRuns {
public:
    TCodeRuns() = default;
    /// The runs of a code matrix, its rows scanned on up to threads threads (0: all
    /// cores).
    TCodeRuns(const TCode& codes, int threads);

    std::int32_t Width() const { return width_; }
    std::int32_t Height() const { return height_; }
    /// Runs of row r: indexes RowBegin(r) … RowEnd(r) − 1, from the left.
    std::size_t RowBegin(std::int32_t row) const { return rowStart_[std::size_t(row)]; }
    std::size_t RowEnd(std::int32_t row) const { return rowStart_[std::size_t(row) + 1]; }
    std::size_t Count() const { return runs_.size(); }
    const TCodeRun& operator[](std::size_t i) const { return runs_[i]; }

private:
    friend class TCodeRunsBuilder;
    std::int32_t width_ = 0, height_ = 0;
    std::vector<std::size_t> rowStart_{0};
    std::vector<TCodeRun> runs_;
};

/// Gathers the runs of rows of codes handed in by bands, as threads make them: each
/// band a range of rows, the bands in rising order of their rows, each band's rows
/// from the top; rows not handed in hold no code.
class TCodeRunsBuilder {
public:
    TCodeRunsBuilder(std::int32_t width, std::int32_t height, int bands);

    /// Takes in the width codes of row, of band.
    void AddRow(int band, std::int32_t row, const std::int32_t* codes);
    /// Takes in the runs of row, of band, from the left, as AddRow finds them.
    void AddRuns(int band, std::int32_t row, const TCodeRun* runs, std::size_t count);

    /// The runs gathered; the builder is emptied.
    TCodeRuns Finish();

private:
    std::int32_t width_, height_;
    std::vector<std::uint32_t> rowRuns_; // per row
    std::vector<std::vector<TCodeRun>> bands_;
};
