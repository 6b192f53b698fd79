#include "DotValues.h"

#include "Evaluator.h"
#include "Parallel.h"

#include <algorithm>

void TDotValues::Prepare(const TPic& dark, const TPic& lit, int floor, int threads) {
    const std::int32_t height = dark.Height, width = dark.Width;
    columns_.assign(std::size_t(height), {});
    values_.assign(std::size_t(height), {});
    ForEachBand(height, threads, threads, [&](int, std::int32_t begin, std::int32_t end) {
        for (std::int32_t row = begin; row < end; ++row) {
            std::vector<std::int32_t>& columns = columns_[std::size_t(row)];
            for (std::int32_t col = 0; col < width; ++col)
                if (OnLitDot(dark.Data[row][col], lit.Data[row][col], floor))
                    columns.push_back(col);
            columns.shrink_to_fit();
            values_[std::size_t(row)].resize(columns.size() * kCodePictures);
        }
    });
}

void TDotValues::KeepRow(std::int32_t p, std::int32_t row, const std::uint8_t* values) {
    const std::vector<std::int32_t>& columns = columns_[std::size_t(row)];
    std::uint8_t* out = values_[std::size_t(row)].data() + std::size_t(p) * columns.size();
    for (std::size_t j = 0; j < columns.size(); ++j)
        out[j] = values[columns[j]];
}

void TDotValues::KeepColumns(std::int32_t p, std::int32_t row, std::int32_t first,
                             std::int32_t count, const std::uint8_t* values) {
    const std::vector<std::int32_t>& columns = columns_[std::size_t(row)];
    std::uint8_t* out = values_[std::size_t(row)].data() + std::size_t(p) * columns.size();
    auto j = std::size_t(std::lower_bound(columns.begin(), columns.end(), first) - columns.begin());
    for (; j < columns.size() && columns[j] < first + count; ++j)
        out[j] = values[columns[j] - first];
}

void TDotValues::CountLevels(const TPic& dark, const TPic& lit, int threads,
                             TSettingsCounts& counts) const {
    const std::int32_t height = std::int32_t(columns_.size());
    const int bands = std::max(1, std::min(threads, int(height)));
    std::vector<TSettingsCounts> parts(static_cast<std::size_t>(bands));
    ForEachBand(height, bands, bands, [&](int band, std::int32_t begin, std::int32_t end) {
        std::uint8_t values[kCodePictures];
        for (std::int32_t row = begin; row < end; ++row) {
            const std::vector<std::int32_t>& columns = columns_[std::size_t(row)];
            const std::uint8_t* kept = values_[std::size_t(row)].data();
            for (std::size_t j = 0; j < columns.size(); ++j) {
                for (std::int32_t p = 0; p < kCodePictures; ++p)
                    values[p] = kept[std::size_t(p) * columns.size() + j];
                parts[std::size_t(band)].AddLevels(
                    dark.Data[row][columns[j]], lit.Data[row][columns[j]], values, kCodePictures);
            }
        }
    });
    for (const TSettingsCounts& part : parts) {
        counts.LitBelow.Add(part.LitBelow);
        counts.UnlitAbove.Add(part.UnlitAbove);
        counts.LevelPixels += part.LevelPixels;
    }
}

void TDotValues::CodeRow(std::int32_t row, const TPic& dark, const TPic& lit, int minDif,
                         int tolerance, std::int32_t* out) const {
    std::fill_n(out, dark.Width, 0);
    const std::vector<std::int32_t>& columns = columns_[std::size_t(row)];
    const std::uint8_t* kept = values_[std::size_t(row)].data();
    // Bit 0 compares plane 2 with its own threshold: set for any tolerance above 0.
    const std::int32_t first = tolerance > 0 ? 1 : 0;
    for (std::size_t j = 0; j < columns.size(); ++j) {
        const std::int32_t col = columns[j];
        const int p2 = lit.Data[row][col];
        if (!OnLitDot(dark.Data[row][col], p2, minDif))
            continue;
        std::int32_t code = first;
        for (std::int32_t p = 0; p < kCodePictures; ++p)
            code |= std::int32_t(int(kept[std::size_t(p) * columns.size() + j]) + tolerance > p2)
                    << (p + 1);
        out[col] = (code & 1) != 0 ? code : 0;
    }
}
