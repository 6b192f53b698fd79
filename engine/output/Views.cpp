// Diagnostic views: the stack and the intermediate results drawn into a bitmap.

#include "output/Views.h"

#include "base/Parallel.h"
#include "decode/ThresholdRows.h"
#include "image/PixelAccess.h"

namespace {

constexpr std::uint32_t kDarkRed = 0x7D0000;
constexpr std::uint32_t kBlue = 0x0000FF;

constexpr std::uint32_t Grey(std::uint32_t level) {
    return level * 0x010101u;
}

} // namespace

void ShowMatrixView(const TViewSource& source, std::uint8_t index, TBitmap& bitmap) {
    TBitmapPixMan pixels(bitmap);
    // Rows are independent: bands of them are drawn at once.
    const int threads = ThreadsFor(source.Threads);
    ForEachBand(source.Height, threads, threads, [&](int, std::int32_t begin, std::int32_t end) {
        TThresholdRows thresholds(source.Pics, source.Width, source.MinDif, source.Tolerance);
        TValueRows values(source.Pics, index, source.Width);
        for (std::int32_t row = begin; row < end; ++row) {
            const std::int16_t* t = thresholds.Row(row);
            const std::uint8_t* v = values.Row(row);
            // A value reaching its threshold shows; this view tests "at least", while a
            // code bit needs "more than".
            pixels.SetRow(row, source.Width, [&](std::int32_t col) {
                return v[col] >= t[col] ? Grey(v[col]) : kDarkRed;
            });
        }
    });
}

void ShowEdgesView(const TViewSource& source, TBitmap& bitmap) {
    TBitmapPixMan pixels(bitmap);
    const int threads = ThreadsFor(source.Threads);
    ForEachBand(source.Height, threads, threads, [&](int, std::int32_t begin, std::int32_t end) {
        TThresholdRows thresholds(source.Pics, source.Width, source.MinDif, source.Tolerance);
        for (std::int32_t row = begin; row < end; ++row) {
            const std::int16_t* t = thresholds.Row(row);
            // Thresholds are whole numbers, so rounding leaves them as they are. A negative
            // one shows as its low eight bits: −20 is grey 236.
            pixels.SetRow(row, source.Width, [&](std::int32_t col) {
                return t[col] > 255 ? kBlue : Grey(std::uint8_t(t[col]));
            });
        }
    });
}

void ShowView(const TViewSource& source, TView view, std::uint8_t plane, TBitmap& bitmap) {
    switch (view) {
    case TView::Plane:
        source.Pics.ShowPicture(plane, bitmap);
        break;
    case TView::Matrix:
        ShowMatrixView(source, plane, bitmap);
        break;
    case TView::Edges:
        ShowEdgesView(source, bitmap);
        break;
    case TView::Codes:
        ShowMatrixView(source, 2, bitmap);
        source.Codes.ShowCodes(bitmap);
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
