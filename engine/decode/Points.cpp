#include "decode/Points.h"

#include "base/Format.h"
#include "base/Parallel.h"
#include "decode/CodeRuns.h"
#include "files/FileUtil.h"

#include <algorithm>

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
    if (code > 0)
        AddSums(code, x, y, 1);
}

void TUniquePoints::AddSums(std::int32_t code, std::int64_t sumX, std::int64_t sumY,
                            std::int32_t count) {
    const TFound found = FindCode(code);
    if (found.Absent) {
        TUniquePoint entry;
        entry.Code = code;
        entry.SumX = sumX;
        entry.SumY = sumY;
        entry.PixelCount = count;
        Append(entry);
        return;
    }
    TUniquePoint& entry = Entries[std::size_t(found.Index)];
    entry.SumX += sumX;
    entry.SumY += sumY;
    entry.PixelCount += count;
}

namespace {

// Gathering the code matrix. The sums do not depend on the order in which pixels
// arrive; only the order of new entries does, and that is the order of each code's
// first pixel in the column-by-column scan: its leftmost column, and the top pixel
// in that column. So the matrix is read row by row, which is what its layout
// favours, in bands of rows that threads can share; each band keeps per code its
// sums and its first pixel in column order, and the bands are then merged.

// The sums of one code over a band of rows, and its first pixel in column order.
struct TGather {
    std::int64_t SumX = 0;
    std::int64_t SumY = 0;
    std::int32_t Count = 0;
    std::int32_t FirstCol = 0;
    std::int32_t FirstRow = 0;

    // Takes in other's pixels: sums add up, the first pixel is the one that comes
    // first in column order.
    void Merge(const TGather& other) {
        if (Count == 0 || other.FirstCol < FirstCol ||
            (other.FirstCol == FirstCol && other.FirstRow < FirstRow)) {
            FirstCol = other.FirstCol;
            FirstRow = other.FirstRow;
        }
        SumX += other.SumX;
        SumY += other.SumY;
        Count += other.Count;
    }
};

// One code's gathered pixels.
struct TGathered {
    std::int32_t Code = 0;
    TGather Sums;
};

// The codes of one band of rows.
class TBandGather {
public:
    TBandGather() : table_(std::size_t(kMaxTableCode) + 1) {}

    // The codes of one row, rows of a band arriving from the top.
    void AddRow(const std::int32_t* codes, std::int32_t row, std::int32_t width) {
        ForEachCodeRun(codes, width, [&](std::int32_t first, std::int32_t next) {
            if (codes[first] > 0)
                AddRun(codes[first], first, row, next - first);
        });
    }

    // The runs of one row, from the left, rows of a band arriving from the top.
    void AddRuns(const TCodeRun* runs, std::size_t count, std::int32_t row) {
        for (std::size_t i = 0; i < count; ++i)
            if (runs[i].Code > 0)
                AddRun(runs[i].Code, runs[i].Begin, row, runs[i].End - runs[i].Begin);
    }

    // Takes in every code of other.
    void Merge(const TBandGather& other) {
        for (std::int32_t code : other.used_)
            Sums(code).Merge(other.table_[std::size_t(code)]);
        for (const auto& [code, gathered] : other.others_)
            Sums(code).Merge(gathered);
    }

    // Every code met, in the order of its first pixel: the column, then the row.
    std::vector<TGathered> InFirstPixelOrder() const {
        std::vector<TGathered> gathered;
        gathered.reserve(used_.size() + others_.size());
        for (std::int32_t code : used_)
            gathered.push_back({code, table_[std::size_t(code)]});
        for (const auto& [code, g] : others_)
            gathered.push_back({code, g});
        // Each key packs the first pixel's position (below 2^56) with the code's
        // place in `gathered`.
        std::vector<std::pair<std::uint64_t, std::uint32_t>> order(gathered.size());
        for (std::size_t i = 0; i < gathered.size(); ++i)
            order[i] = {std::uint64_t(gathered[i].Sums.FirstCol) << 28 |
                            std::uint64_t(gathered[i].Sums.FirstRow),
                        std::uint32_t(i)};
        SortByKey(order);
        std::vector<TGathered> sorted;
        sorted.reserve(gathered.size());
        for (const auto& [position, i] : order)
            sorted.push_back(gathered[i]);
        return sorted;
    }

private:
    // The sums of code, made when the code is first met.
    TGather& Sums(std::int32_t code) {
        if (code <= kMaxTableCode) {
            TGather& g = table_[std::size_t(code)];
            if (g.Count == 0)
                used_.push_back(code);
            return g;
        }
        auto it = std::find_if(others_.begin(), others_.end(),
                               [code](const auto& other) { return other.first == code; });
        if (it == others_.end())
            it = others_.insert(others_.end(), {code, TGather{}});
        return it->second;
    }

    // A run of pixels col … col + run − 1 of one row; rows arrive from the top.
    void AddRun(std::int32_t code, std::int32_t col, std::int32_t row, std::int32_t run) {
        TGather& g = Sums(code);
        g.SumX += std::int64_t(run) * col + std::int64_t(run) * (run - 1) / 2;
        g.SumY += std::int64_t(run) * row;
        if (g.Count == 0 || col < g.FirstCol) {
            g.FirstCol = col;
            g.FirstRow = row;
        }
        g.Count += run;
    }

    std::vector<TGather> table_;                           // codes 1 … 32767
    std::vector<std::int32_t> used_;                       // codes met in the table
    std::vector<std::pair<std::int32_t, TGather>> others_; // codes above it, rare
};

} // namespace

struct TCodeGathering::TBands {
    std::vector<TBandGather> Bands;
};

TCodeGathering::TCodeGathering(int bands) : bands_(std::make_unique<TBands>()) {
    bands_->Bands.resize(std::size_t(std::max(1, bands)));
}

TCodeGathering::~TCodeGathering() = default;

int TCodeGathering::BandCount() const {
    return static_cast<int>(bands_->Bands.size());
}

void TCodeGathering::AddRow(int band, const std::int32_t* codes, std::int32_t row,
                            std::int32_t width) {
    bands_->Bands[std::size_t(band)].AddRow(codes, row, width);
}

void TCodeGathering::AddRuns(int band, const TCodeRun* runs, std::size_t count, std::int32_t row) {
    bands_->Bands[std::size_t(band)].AddRuns(runs, count, row);
}

void TUniquePoints::AddCodeMatrix(const TCode& matrix, int threads) {
    TCodeGathering gathering(std::min(ThreadsFor(threads), std::max(1, matrix.Height)));
    const int bands = gathering.BandCount();
    ForEachBand(matrix.Height, bands, bands, [&](int band, std::int32_t begin, std::int32_t end) {
        for (std::int32_t row = begin; row < end; ++row)
            gathering.AddRow(band, matrix.Data[row], row, matrix.Width);
    });
    AddGathered(gathering);
}

void TUniquePoints::AddGathered(TCodeGathering& gathering) {
    std::vector<TBandGather>& bands = gathering.bands_->Bands;
    for (std::size_t band = 1; band < bands.size(); ++band)
        bands[0].Merge(bands[band]);
    for (const TGathered& g : bands[0].InFirstPixelOrder())
        AddSums(g.Code, g.Sums.SumX, g.Sums.SumY, g.Sums.Count);
    bands.clear();
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
