// The code matrix and the point list: gathering pixels by code, centres and the
// points file.

#include "Errors.h"
#include "FileUtil.h"
#include "Parallel.h"
#include "PicHolder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

// Codes the decoder can produce, and so the codes the lookup table covers.
constexpr std::int32_t kMaxTableCode = 32767;

// Sorts (key, index) pairs by key with a least-significant-digit radix sort, which
// for the few thousand to tens of thousands of points here beats comparisons;
// digits on which all keys agree are passed over.
void SortByKey(std::vector<std::pair<std::uint64_t, std::uint32_t>>& items) {
    constexpr int kDigitBits = 11;
    constexpr std::uint64_t kDigitMask = (1u << kDigitBits) - 1;
    std::uint64_t differing = 0;
    for (const auto& item : items)
        differing |= item.first ^ items.front().first;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> sorted(items.size());
    for (int shift = 0; shift < 64; shift += kDigitBits) {
        if (((differing >> shift) & kDigitMask) == 0)
            continue;
        std::vector<std::size_t> start(kDigitMask + 2, 0);
        for (const auto& item : items)
            ++start[((item.first >> shift) & kDigitMask) + 1];
        for (std::size_t d = 1; d < start.size(); ++d)
            start[d] += start[d - 1];
        for (const auto& item : items)
            sorted[start[(item.first >> shift) & kDigitMask]++] = item;
        items.swap(sorted);
    }
}

} // namespace

void TCode::CheckSize(std::int32_t rows, std::int32_t cols) {
    if (rows < 0 || cols < 0 || std::int64_t(rows) * cols > kMaxPlanePixels)
        throw std::invalid_argument("a code matrix of " + std::to_string(cols) + " x " +
                                    std::to_string(rows) + " pixels is not possible");
}

void TCode::RaiseOutOfMemory(std::int32_t rows, std::int32_t cols) {
    ::RaiseOutOfMemory("the code matrix of " + std::to_string(cols) + " x " + std::to_string(rows) +
                           " pixels",
                       std::uint64_t(rows) * std::uint64_t(cols) * sizeof(std::int32_t));
}

void TCode::Resize(std::int32_t rows, std::int32_t cols) {
    CheckSize(rows, cols);
    try {
        Data.Resize(rows, cols);
    } catch (const std::bad_alloc&) {
        RaiseOutOfMemory(rows, cols);
    }
    Height = rows;
    Width = cols;
}

void TCode::ResizeForOverwrite(std::int32_t rows, std::int32_t cols) {
    CheckSize(rows, cols);
    try {
        Data.ResizeForOverwrite(rows, cols);
    } catch (const std::bad_alloc&) {
        RaiseOutOfMemory(rows, cols);
    }
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

// Gathering the code matrix. The sums do not depend on the order in which pixels
// arrive; only the order of new entries does, and that is the order of each code's
// first pixel in the column-by-column scan: its leftmost column, and the top pixel
// in that column. So the matrix is read row by row, which is what its layout
// favours, in bands of rows that threads can share; each band keeps per code its
// sums and its first pixel in column order, and the bands are then merged.

void TUniquePoints::TBandGather::Add(std::int32_t code, std::int32_t col, std::int32_t row,
                                     std::int32_t run) {
    TGather* g = nullptr;
    if (code <= kMaxTableCode) {
        g = &Table[std::size_t(code)];
        if (g->Count == 0)
            Used.push_back(code);
    } else {
        auto it = std::find_if(Others.begin(), Others.end(),
                               [code](const auto& other) { return other.first == code; });
        if (it == Others.end())
            it = Others.insert(Others.end(), {code, TGather{}});
        g = &it->second;
    }
    // A run of pixels col … col + run − 1 of one row.
    g->SumX += std::int64_t(run) * col + std::int64_t(run) * (run - 1) / 2;
    g->SumY += std::int64_t(run) * row;
    if (g->Count == 0 || col < g->FirstCol) { // rows arrive from the top
        g->FirstCol = col;
        g->FirstRow = row;
    }
    g->Count += run;
}

void TUniquePoints::TBandGather::AddRows(const TCode& matrix, std::int32_t begin,
                                         std::int32_t end) {
    if (Table.empty())
        Table.resize(std::size_t(kMaxTableCode) + 1);
    const std::int32_t width = matrix.Width;
    for (std::int32_t row = begin; row < end; ++row) {
        const std::int32_t* codes = matrix.Data[row];
        std::int32_t col = 0;
        while (col < width) {
            // Most pixels lie on no dot: pass over eight codes of 0 at a time.
            if (col + 8 <= width && AllZero8(codes + col)) {
                col += 8;
                continue;
            }
            const std::int32_t code = codes[col];
            std::int32_t next = col + 1;
            while (next < width && codes[next] == code)
                ++next;
            if (code > 0)
                Add(code, col, row, next - col);
            col = next;
        }
    }
}

void TUniquePoints::AddCodeMatrix(const TCode& matrix, int threads) {
    const int bands = std::min(ThreadsFor(threads), std::max(1, matrix.Height));
    BeginBands(bands);
    try {
        ForEachBand(matrix.Height, bands, bands,
                    [&](int band, std::int32_t begin, std::int32_t end) {
                        AddBandRows(band, matrix, begin, end);
                    });
    } catch (...) {
        bands_.clear(); // a scan cut short leaves its sums behind: start afresh next time
        throw;
    }
    EndBands();
}

void TUniquePoints::BeginBands(int bands) {
    bandCount_ = std::max(1, bands);
    if (bands_.size() < std::size_t(bandCount_))
        bands_.resize(std::size_t(bandCount_));
}

void TUniquePoints::AddBandRows(int band, const TCode& matrix, std::int32_t begin,
                                std::int32_t end) {
    bands_[std::size_t(band)].AddRows(matrix, begin, end);
}

void TUniquePoints::EndBands() {
    try {
        MergeBands();
    } catch (...) {
        bands_.clear();
        throw;
    }
}

void TUniquePoints::MergeBands() {
    const int bandCount = bandCount_;
    // Merge the bands into the first: sums add up, the first pixel is the one that
    // comes first in column order.
    TBandGather& all = bands_[0];
    auto merge = [](TGather& into, const TGather& from) {
        if (into.Count == 0 || from.FirstCol < into.FirstCol ||
            (from.FirstCol == into.FirstCol && from.FirstRow < into.FirstRow)) {
            into.FirstCol = from.FirstCol;
            into.FirstRow = from.FirstRow;
        }
        into.SumX += from.SumX;
        into.SumY += from.SumY;
        into.Count += from.Count;
    };
    for (int band = 1; band < bandCount; ++band) {
        TBandGather& other = bands_[std::size_t(band)];
        for (std::int32_t code : other.Used) {
            TGather& into = all.Table[std::size_t(code)];
            if (into.Count == 0)
                all.Used.push_back(code);
            merge(into, other.Table[std::size_t(code)]);
            other.Table[std::size_t(code)] = TGather{};
        }
        other.Used.clear();
        for (const auto& [code, gathered] : other.Others) {
            auto it = std::find_if(all.Others.begin(), all.Others.end(),
                                   [code = code](const auto& o) { return o.first == code; });
            if (it == all.Others.end())
                it = all.Others.insert(all.Others.end(), {code, TGather{}});
            merge(it->second, gathered);
        }
        other.Others.clear();
    }

    // New entries in the order of their first pixels: the column, then the row. Each
    // key packs that position (below 2^56) with the code's place in `gathered`.
    std::vector<const TGather*> gathered;
    std::vector<std::int32_t> codes;
    gathered.reserve(all.Used.size() + all.Others.size());
    codes.reserve(gathered.capacity());
    for (std::int32_t code : all.Used) {
        gathered.push_back(&all.Table[std::size_t(code)]);
        codes.push_back(code);
    }
    for (const auto& [code, g] : all.Others) {
        gathered.push_back(&g);
        codes.push_back(code);
    }
    std::vector<std::pair<std::uint64_t, std::uint32_t>> order(gathered.size());
    for (std::size_t i = 0; i < gathered.size(); ++i)
        order[i] = {std::uint64_t(gathered[i]->FirstCol) << 28 |
                        std::uint64_t(gathered[i]->FirstRow),
                    std::uint32_t(i)};
    SortByKey(order);

    for (const auto& [position, i] : order) {
        const TGather& g = *gathered[i];
        const TFound found = FindCode(codes[i]);
        if (found.Absent) {
            TUniquePoint entry;
            entry.Code = codes[i];
            entry.SumX = g.SumX;
            entry.SumY = g.SumY;
            entry.PixelCount = g.Count;
            Append(entry);
            continue;
        }
        TUniquePoint& entry = Entries[std::size_t(found.Index)];
        entry.SumX += g.SumX;
        entry.SumY += g.SumY;
        entry.PixelCount += g.Count;
    }

    for (std::int32_t code : all.Used)
        all.Table[std::size_t(code)] = TGather{};
    all.Used.clear();
    all.Others.clear();
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

// std::to_chars rounds the exact binary value correctly and ignores the locale; an
// exact tie goes to even there, so it is moved one step away from zero first. The
// ties a double can hold exactly are the odd multiples of 2^-(decimals + 1):
// x.125, x.375, x.625 and x.875 for two decimals.
std::string FormatFixed(double value, int decimals) {
    const double scaled = std::ldexp(value, decimals + 1);
    if (std::isfinite(value) && scaled == std::trunc(scaled) && std::fmod(scaled, 2) != 0)
        value = std::nextafter(value, value > 0 ? HUGE_VAL : -HUGE_VAL);
    char buffer[400];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (error != std::errc())
        return "nan";
    return std::string(buffer, end);
}

std::string FormatCentre(double value) {
    // At most 10 significant digits: from a hundred million on, fewer decimals are
    // kept, and the two places are filled with zeros.
    std::string text = FormatFixed(value, 2);
    const std::size_t sign = text.front() == '-' ? 1 : 0;
    const std::size_t whole = text.find('.') - sign;
    if (whole <= 8)
        return text;
    const int decimals = whole >= 10 ? 0 : 1;
    text = FormatFixed(value, decimals);
    return text + (decimals == 0 ? ".00" : "0");
}

std::int32_t RoundToPixel(double value) {
    const double rounded = std::nearbyint(value); // the default mode: halves to even
    if (!(std::fabs(rounded) < 2147483648.0))
        return std::numeric_limits<std::int32_t>::min(); // outside every picture
    return static_cast<std::int32_t>(rounded);
}
