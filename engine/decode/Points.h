#pragma once
// The point list: the pixels of the code matrix gathered by code, their centres and
// the points file.

#include "decode/CodeMatrix.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct TCodeRun;

/// One point: the pixels that share a code.
struct TUniquePoint {
    std::int32_t Code = 0;
    double X = 0; ///< centre column, SumX / PixelCount (valid after CalcCentres)
    double Y = 0; ///< centre row, SumY / PixelCount (valid after CalcCentres)
    std::int64_t SumX = 0;
    std::int64_t SumY = 0;
    std::int32_t PixelCount = 0;
};

/// Rows of codes gathered for a point list (TUniquePoints::AddGathered), in bands of
/// rows that threads may fill at once, each band's rows from the top; which rows
/// make a band does not matter.
class TCodeGathering {
public:
    explicit TCodeGathering(int bands);
    ~TCodeGathering();
    TCodeGathering(const TCodeGathering&) = delete;
    TCodeGathering& operator=(const TCodeGathering&) = delete;

    int BandCount() const;
    /// Gathers the width codes of row into band.
    void AddRow(int band, const std::int32_t* codes, std::int32_t row, std::int32_t width);
    /// Gathers a row's runs of codes, from the left, into band: the same as AddRow of
    /// the row they were cut from.
    void AddRuns(int band, const TCodeRun* runs, std::size_t count, std::int32_t row);

private:
    friend class TUniquePoints;
    struct TBands;
    std::unique_ptr<TBands> bands_;
};

/// The point list: one entry per distinct code, in the order in which the codes
/// were first added.
class TUniquePoints {
public:
    /// Entries made ready by Reset. More distinct codes are still taken: the
    /// storage grows.
    static constexpr std::int32_t kCapacity = 20000;

    std::vector<TUniquePoint> Entries; ///< entries 0 … EntryCount − 1 are in use
    std::int32_t EntryCount = 0;

    TUniquePoints() { Reset(); }

    /// kCapacity zeroed entries, none in use.
    void Reset();

    /// Gathers the pixel at column x, row y into the entry of its code (a new entry
    /// at the end for a code not met before). Codes ≤ 0 are ignored.
    void AddPixel(std::int32_t code, std::int32_t x, std::int32_t y);

    struct TFound {
        bool Absent = true;
        std::int32_t Index = -1; ///< the entry's position when not absent
    };
    /// The entry in use that holds code: through a table for the codes the decoding
    /// gives (1 … 32767), by a search among the few others.
    TFound FindCode(std::int32_t code) const;

    /// Gathers every pixel of the matrix with AddPixel's result, as if called for
    /// each column from the left and each row from the top, column after column.
    /// threads: how many threads may share the work (0: all cores).
    void AddCodeMatrix(const TCode& matrix, int threads = 1);

    /// Adds what gathering holds as AddCodeMatrix adds a matrix of those rows; the
    /// gathering is emptied.
    void AddGathered(TCodeGathering& gathering);

    /// Shrinks the storage to the entries in use.
    void Trim();
    /// X and Y of every entry in use.
    void CalcCentres();
    /// Writes the points file under exactly fileName, atomically: one line per entry,
    /// "code x y pixelcount" with the centres to two decimals ("." whatever the
    /// locale, an exact half rounded up), CR LF after every line; empty without
    /// entries. Raises EFileError when the file cannot be written.
    void WritePoints(const std::string& fileName) const;
    /// The text WritePoints writes.
    std::string PointsText() const;

private:
    // Adds sums for code: to its entry, or as a new entry at the end.
    void AddSums(std::int32_t code, std::int64_t sumX, std::int64_t sumY, std::int32_t count);
    void Append(const TUniquePoint& entry);

    // Entry index + 1 for codes 1 … 32767 (0: absent); other codes in otherCodes_.
    std::vector<std::int32_t> lookup_;
    std::vector<std::pair<std::int32_t, std::int32_t>> otherCodes_;
};
