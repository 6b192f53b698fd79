// The picture a section of the report page embeds: the plane scaled down by a whole
// factor.

#include "base/Parallel.h"
#include "output/Report.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

std::int32_t ReportPictureStep(std::int32_t width, std::int32_t height) {
    const std::int32_t side = std::max({width, height, std::int32_t(1)});
    return (side + kReportPictureMax - 1) / kReportPictureMax;
}

namespace {

// Means of the squares of one row of the scaled plane that the right border does not
// cut, from the sums of the plane's columns over the square's rows: ⌊(sum + count / 2) /
// count⌋. For a small Step it is taken in float with a margin of 1 / (4 count), which
// is larger than the float's error and smaller than the distance of any other quotient
// from a whole number, so it stays exact.
template <std::int32_t Step>
void MeanRow(const std::uint32_t* column, std::int32_t cols, std::uint32_t count,
             std::uint8_t* target) {
    static_assert(Step >= 2 && Step <= 4);
    const float scale = 1.0f / float(count);
    const float offset = float(count / 2) * scale + 0.25f * scale;
    for (std::int32_t col = 0; col < cols; ++col) {
        const std::uint32_t* at = column + std::size_t(col) * Step;
        std::uint32_t sum = 0;
        for (std::int32_t k = 0; k < Step; ++k)
            sum += at[k];
        target[col] = static_cast<std::uint8_t>(float(sum) * scale + offset);
    }
}

// The mean of the cols columns from column on, over rows rows.
std::uint8_t SquareMean(const std::uint32_t* column, std::int32_t cols, std::int32_t rows) {
    const std::uint64_t count = std::uint64_t(cols) * std::uint64_t(rows);
    std::uint64_t sum = count / 2;
    for (std::int32_t k = 0; k < cols; ++k)
        sum += column[k];
    return static_cast<std::uint8_t>(sum / count);
}

} // namespace

TPic ScalePlaneDown(const TPic& plane, std::int32_t step, int threads) {
    if (step < 1)
        throw std::invalid_argument("a plane cannot be scaled down by " + std::to_string(step));
    TPic out;
    out.SetSize((plane.Width + step - 1) / step, (plane.Height + step - 1) / step);
    if (out.Width == 0 || out.Height == 0)
        return out;
    if (step == 1) {
        std::memcpy(out.Data.data(), plane.Data.data(), plane.Data.size());
        return out;
    }
    const std::int32_t fullCols = plane.Width / step; // squares not cut by the right border
    const int useThreads = ThreadsFor(threads);
    const int bands = std::min(out.Height, useThreads * 4);
    ForEachBand(out.Height, bands, useThreads, [&](int, std::int32_t begin, std::int32_t end) {
        std::vector<std::uint32_t> sums(std::size_t(plane.Width));
        std::uint32_t* column = sums.data();
        for (std::int32_t row = begin; row < end; ++row) {
            const std::int32_t first = row * step;
            const std::int32_t rows = std::min(step, plane.Height - first);
            const std::uint8_t* source = plane.Data[first];
            for (std::int32_t col = 0; col < plane.Width; ++col)
                column[col] = source[col];
            for (std::int32_t k = 1; k < rows; ++k) {
                source = plane.Data[first + k];
                for (std::int32_t col = 0; col < plane.Width; ++col)
                    column[col] += source[col];
            }
            std::uint8_t* target = out.Data[row];
            const auto count = std::uint32_t(rows * step);
            switch (step) {
            case 2:
                MeanRow<2>(column, fullCols, count, target);
                break;
            case 3:
                MeanRow<3>(column, fullCols, count, target);
                break;
            case 4:
                MeanRow<4>(column, fullCols, count, target);
                break;
            default:
                for (std::int32_t col = 0; col < fullCols; ++col)
                    target[col] =
                        SquareMean(column + std::size_t(col) * std::size_t(step), step, rows);
            }
            if (fullCols < out.Width) // the square cut by the right border
                target[fullCols] = SquareMean(column + std::size_t(fullCols) * std::size_t(step),
                                              plane.Width - fullCols * step, rows);
        }
    });
    return out;
}
