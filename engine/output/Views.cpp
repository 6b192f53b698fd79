// Diagnostic views: the stack and the intermediate results drawn into a bitmap.

#include "output/Views.h"

#include "decode/ThresholdRows.h"
#include "base/Parallel.h"
#include "image/PixelAccess.h"

namespace {

constexpr std::uint32_t kDarkRed = 0x7D0000;
constexpr std::uint32_t kBlue = 0x0000FF;

constexpr std::uint32_t Grey(std::uint32_t level) {
    return level * 0x010101u;
}

} // namespace

void TPicEval::ShowMatrix(std::uint8_t index, TBitmap& bitmap) const {
    TBitmapPixMan pixels(bitmap);
    // Rows are independent: bands of them are drawn at once.
    const int threads = ThreadsFor(Threads);
    ForEachBand(Height, threads, threads, [&](int, std::int32_t begin, std::int32_t end) {
        TThresholdRows thresholds(*this);
        TValueRows values(*this, index);
        for (std::int32_t row = begin; row < end; ++row) {
            const std::int16_t* t = thresholds.Row(row);
            const std::uint8_t* v = values.Row(row);
            // A value reaching its threshold shows; this view tests "at least", while a
            // code bit needs "more than".
            pixels.SetRow(row, Width, [&](std::int32_t col) {
                return v[col] >= t[col] ? Grey(v[col]) : kDarkRed;
            });
        }
    });
}

void TPicEval::ShowEdges(TBitmap& bitmap) const {
    TBitmapPixMan pixels(bitmap);
    const int threads = ThreadsFor(Threads);
    ForEachBand(Height, threads, threads, [&](int, std::int32_t begin, std::int32_t end) {
        TThresholdRows thresholds(*this);
        for (std::int32_t row = begin; row < end; ++row) {
            const std::int16_t* t = thresholds.Row(row);
            // Thresholds are whole numbers, so rounding leaves them as they are. A negative
            // one shows as its low eight bits: −20 is grey 236.
            pixels.SetRow(row, Width, [&](std::int32_t col) {
                return t[col] > 255 ? kBlue : Grey(std::uint8_t(t[col]));
            });
        }
    });
}

void TPicEval::ShowCodeView(TBitmap& bitmap) const {
    ShowMatrix(2, bitmap);
    ShowCodePoints(bitmap);
}

void ShowView(const TPicEval& eval, TView view, std::uint8_t plane, TBitmap& bitmap) {
    switch (view) {
    case TView::Plane:
        eval.ShowPicture(plane, bitmap);
        break;
    case TView::Matrix:
        eval.ShowMatrix(plane, bitmap);
        break;
    case TView::Edges:
        eval.ShowEdges(bitmap);
        break;
    case TView::Codes:
        eval.ShowCodeView(bitmap);
        break;
    }
}

bool ViewReads(TView view, std::uint8_t plane, std::int32_t index) {
    const bool threshold = index == 0 || index == 2;
    switch (view) {
    case TView::Plane:
        return index == plane;
    case TView::Matrix:
        return threshold || index == plane;
    case TView::Edges:
        return threshold;
    case TView::Codes:
        break;
    }
    return true;
}
