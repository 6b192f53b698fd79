#pragma once
// The code pictures' values at the pixels on a dot, kept where the settings that
// read them are only chosen once every picture is in.

#include "Plane.h"
#include "Suggest.h"

#include <cstdint>
#include <vector>

/// For each row, the columns where plane 2 exceeds plane 0 by more than a floor,
/// and there the values of the 14 code pictures: 14 bytes and a column number a
/// pixel on a dot, nothing elsewhere. Each row is filled by one thread at a time.
class TDotValues {
public:
    static constexpr std::int32_t kCodePictures = 14;
    /// Bytes a pixel on a dot takes.
    static constexpr std::uint64_t kBytesPerPixel = kCodePictures + sizeof(std::int32_t);

    /// Finds the pixels above floor in every row of dark and lit (of one size) on
    /// threads, and makes room for their values.
    void Prepare(const TPic& dark, const TPic& lit, int floor, int threads);

    /// Whether a row holds a pixel above the floor.
    bool RowHasDot(std::int32_t row) const { return !columns_[std::size_t(row)].empty(); }

    /// Keeps the values of code picture p (0 … 13) at row's pixels from the whole
    /// row values.
    void KeepRow(std::int32_t p, std::int32_t row, const std::uint8_t* values);
    /// The same from columns first … first + count − 1 of the row only, values[0]
    /// being column first's.
    void KeepColumns(std::int32_t p, std::int32_t row, std::int32_t first, std::int32_t count,
                     const std::uint8_t* values);

    /// Counts the kept values for the suggestion (TSettingsCounts::AddLevels), on
    /// threads; the counts do not depend on their number.
    void CountLevels(const TPic& dark, const TPic& lit, int threads, TSettingsCounts& counts) const;

    /// The codes of one row as the threshold rule gives them with minDif (at least
    /// the floor) and tolerance, into width codes at out.
    void CodeRow(std::int32_t row, const TPic& dark, const TPic& lit, int minDif, int tolerance,
                 std::int32_t* out) const;

private:
    std::vector<std::vector<std::int32_t>> columns_; // per row
    std::vector<std::vector<std::uint8_t>> values_;  // per row: picture-major, then pixel
};
