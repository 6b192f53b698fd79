// The code matrix and the point list: gathering pixels by code, centres and the
// points file.

#include "FileUtil.h"
#include "PicHolder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

// Codes the decoder can produce, and so the codes the lookup table covers.
constexpr std::int32_t kMaxTableCode = 32767;

} // namespace

void TCode::Resize(std::int32_t rows, std::int32_t cols) {
    if (rows < 0 || cols < 0 || std::int64_t(rows) * cols > kMaxPlanePixels)
        throw std::invalid_argument("a code matrix of " + std::to_string(cols) + " x " +
                                    std::to_string(rows) + " pixels is not possible");
    Data.Resize(rows, cols);
    Height = rows;
    Width = cols;
}

void TCode::SetCode(std::int32_t row, std::int32_t col, std::int32_t value) {
    if (Inside(row, col))
        Data[row][col] = value;
}

std::int32_t TCode::GetCode(std::int32_t row, std::int32_t col) const {
    return Inside(row, col) ? Data[row][col] : 0;
}

// ---------------------------------------------------------------------------

void TUniquePoints::Reset() {
    Entries.assign(std::size_t(kCapacity), TUniquePoint{});
    EntryCount = 0;
    lookup_.assign(std::size_t(kMaxTableCode) + 1, 0);
    otherCodes_.clear();
}

TUniquePoints::TFound TUniquePoints::FindCode(std::int32_t code) const {
    if (code >= 0 && code <= kMaxTableCode) {
        const std::int32_t slot = lookup_[std::size_t(code)];
        return slot == 0 ? TFound{} : TFound{false, slot - 1};
    }
    for (const auto& [other, index] : otherCodes_)
        if (other == code)
            return {false, index};
    return {};
}

void TUniquePoints::Append(const TUniquePoint& entry) {
    if (std::size_t(EntryCount) < Entries.size())
        Entries[std::size_t(EntryCount)] = entry;
    else
        Entries.push_back(entry); // beyond the prepared capacity: grow, never overrun
    if (entry.Code <= kMaxTableCode)
        lookup_[std::size_t(entry.Code)] = EntryCount + 1;
    else
        otherCodes_.emplace_back(entry.Code, EntryCount);
    ++EntryCount;
}

void TUniquePoints::AddPixel(std::int32_t code, std::int32_t x, std::int32_t y) {
    if (code <= 0)
        return;
    const TFound found = FindCode(code);
    if (found.Absent) {
        TUniquePoint entry;
        entry.Code = code;
        entry.SumX = x;
        entry.SumY = y;
        entry.PixelCount = 1;
        Append(entry);
        return;
    }
    TUniquePoint& entry = Entries[std::size_t(found.Index)];
    entry.SumX += x;
    entry.SumY += y;
    entry.PixelCount += 1;
}

void TUniquePoints::AddCodeMatrix(const TCode& matrix) {
    // The sums do not depend on the order in which pixels arrive; only the order of
    // new entries does, and that is the order of each code's first pixel in the
    // column-by-column scan: its leftmost column, and the top pixel in that column.
    // So the matrix is read row by row, which is what its memory layout favours,
    // keeping for each code its sums and the first pixel in column order.
    struct TGather {
        std::int64_t SumX = 0;
        std::int64_t SumY = 0;
        std::int32_t Count = 0;
        std::int32_t FirstCol = std::numeric_limits<std::int32_t>::max();
        std::int32_t FirstRow = 0;
    };
    std::vector<TGather> table(std::size_t(kMaxTableCode) + 1);
    auto gather = [](TGather& g, std::int32_t col, std::int32_t row) {
        g.SumX += col;
        g.SumY += row;
        g.Count += 1;
        if (col < g.FirstCol) { // rows arrive from the top, so the first is the topmost
            g.FirstCol = col;
            g.FirstRow = row;
        }
    };
    std::vector<std::pair<std::int32_t, TGather>> others; // codes above the table, rare

    for (std::int32_t row = 0; row < matrix.Height; ++row) {
        const std::int32_t* codes = matrix.Data[row];
        for (std::int32_t col = 0; col < matrix.Width; ++col) {
            const std::int32_t code = codes[col];
            if (code <= 0)
                continue;
            if (code <= kMaxTableCode) {
                gather(table[std::size_t(code)], col, row);
                continue;
            }
            auto it = std::find_if(others.begin(), others.end(),
                                   [code](const auto& o) { return o.first == code; });
            if (it == others.end())
                it = others.insert(others.end(), {code, TGather{}});
            gather(it->second, col, row);
        }
    }

    struct TFirst {
        std::int32_t Col, Row, Code;
        const TGather* Gathered;
    };
    std::vector<TFirst> order;
    for (std::int32_t code = 1; code <= kMaxTableCode; ++code)
        if (table[std::size_t(code)].Count > 0)
            order.push_back({table[std::size_t(code)].FirstCol, table[std::size_t(code)].FirstRow,
                             code, &table[std::size_t(code)]});
    for (const auto& [code, gathered] : others)
        order.push_back({gathered.FirstCol, gathered.FirstRow, code, &gathered});
    std::sort(order.begin(), order.end(), [](const TFirst& a, const TFirst& b) {
        return a.Col != b.Col ? a.Col < b.Col : a.Row < b.Row;
    });

    for (const TFirst& first : order) {
        const TFound found = FindCode(first.Code);
        if (found.Absent) {
            TUniquePoint entry;
            entry.Code = first.Code;
            Append(entry);
        }
        TUniquePoint& entry = Entries[std::size_t(FindCode(first.Code).Index)];
        entry.SumX += first.Gathered->SumX;
        entry.SumY += first.Gathered->SumY;
        entry.PixelCount += first.Gathered->Count;
    }
}

void TUniquePoints::Trim() {
    Entries.resize(std::size_t(EntryCount));
    Entries.shrink_to_fit();
}

void TUniquePoints::CalcCentres() {
    for (std::int32_t i = 0; i < EntryCount; ++i) {
        TUniquePoint& entry = Entries[std::size_t(i)];
        entry.X = double(entry.SumX) / entry.PixelCount;
        entry.Y = double(entry.SumY) / entry.PixelCount;
    }
}

std::string TUniquePoints::PointsText() const {
    std::string text;
    text.reserve(std::size_t(EntryCount) * 32);
    for (std::int32_t i = 0; i < EntryCount; ++i) {
        const TUniquePoint& entry = Entries[std::size_t(i)];
        text += std::to_string(entry.Code);
        text += ' ';
        text += FormatCentre(entry.X);
        text += ' ';
        text += FormatCentre(entry.Y);
        text += ' ';
        text += std::to_string(entry.PixelCount);
        text += "\r\n";
    }
    return text;
}

void TUniquePoints::WritePoints(const std::string& fileName) const {
    WriteWholeFile(fileName, PointsText());
}

// ---------------------------------------------------------------------------

std::string FormatCentre(double value) {
    // std::to_chars rounds the exact binary value correctly and ignores the locale.
    // An exact tie at the third decimal (x.125, x.375, x.625, x.875: the only
    // three-decimal fractions a double holds exactly) would go to even, so it is
    // moved one step away from zero first: 10.125 gives 10.13.
    const double eighths = value * 8;
    if (std::isfinite(value) && eighths == std::trunc(eighths) && std::fmod(eighths, 2) != 0)
        value = std::nextafter(value, value > 0 ? HUGE_VAL : -HUGE_VAL);
    char buffer[400];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
    if (error != std::errc())
        return "nan";
    return std::string(buffer, end);
}

std::int32_t RoundToPixel(double value) {
    const double rounded = std::nearbyint(value); // the default mode: halves to even
    if (!(std::fabs(rounded) < 2147483648.0))
        return std::numeric_limits<std::int32_t>::min(); // outside every picture
    return static_cast<std::int32_t>(rounded);
}
