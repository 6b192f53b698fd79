// The views of a stack as the evaluator draws them: the matrix of a plane, the
// edges, the coded pixels, each against its per-pixel definition.

#include "EvalSupport.h"
#include "image/Bitmap.h"
#include "image/Plane.h"
#include "pipeline/Evaluator.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

std::uint32_t ColourAt(const TBitmap& bitmap, std::int32_t row, std::int32_t col) {
    const std::uint8_t* p = bitmap.ScanLine(row) + 3 * col;
    return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

void FillBitmap(TBitmap& bitmap, std::uint8_t value) {
    std::fill(bitmap.Bits(), bitmap.Bits() + bitmap.BytesPerLine() * std::size_t(bitmap.Height()),
              value);
}

// The views as defined pixel by pixel, for comparison with the drawn bitmaps.
std::uint32_t ReferenceMatrix(const TPicEval& eval, std::uint8_t index, std::int32_t r,
                              std::int32_t c) {
    const std::uint8_t v = eval.Pics.GetValue(index, r, c);
    return v >= eval.Threshold(r, c) ? v * 0x010101u : 0x7D0000u;
}

std::uint32_t ReferenceEdges(const TPicEval& eval, std::int32_t r, std::int32_t c) {
    const auto t = static_cast<std::int32_t>(std::nearbyint(eval.Threshold(r, c)));
    return t > 255 ? 0x0000FFu : std::uint32_t(t & 0xFF) * 0x010101u;
}

} // namespace

TEST(ShowMatrix, GreyWhereTheValueReachesTheThresholdElseDarkRed) {
    TPicEval eval;
    MakeStack(eval, 4, 1);
    eval.SetTolerance(30);
    eval.SetMinDif(80);
    for (std::int32_t col = 0; col < 3; ++col)
        SetDot(eval, 0, col, 0, 200, 0, 0, 0);     // threshold 170
    SetPlaneValue(eval.Pics.Planes[5], 0, 0, 170); // equal: shows
    SetPlaneValue(eval.Pics.Planes[5], 0, 1, 169); // one below: dark red
    SetPlaneValue(eval.Pics.Planes[5], 0, 3, 255); // threshold 256: dark red
    TBitmap bitmap(4, 1);
    eval.ShowMatrix(5, bitmap);
    EXPECT_EQ(ColourAt(bitmap, 0, 0), 170 * 0x010101u);
    EXPECT_EQ(ColourAt(bitmap, 0, 1), 0x7D0000u);
    EXPECT_EQ(ColourAt(bitmap, 0, 2), 0x7D0000u);
    EXPECT_EQ(ColourAt(bitmap, 0, 3), 0x7D0000u);

    eval.ShowMatrix(2, bitmap); // plane 2 shows itself on the lit dots
    EXPECT_EQ(ColourAt(bitmap, 0, 0), 200 * 0x010101u);
    EXPECT_EQ(ColourAt(bitmap, 0, 3), 0x7D0000u);
}

TEST(ShowEdges, ThresholdAsGreyAndBlueWhereNoDotIsLit) {
    TPicEval eval;
    MakeStack(eval, 3, 1);
    eval.SetTolerance(30);
    eval.SetMinDif(5);
    SetDot(eval, 0, 0, 0, 200, 0, 0, 0); // threshold 170
    SetDot(eval, 0, 1, 0, 10, 0, 0, 0);  // threshold −20
    TBitmap bitmap(3, 1);
    eval.ShowEdges(bitmap);
    EXPECT_EQ(ColourAt(bitmap, 0, 0), 170 * 0x010101u);
    EXPECT_EQ(ColourAt(bitmap, 0, 1), 236 * 0x010101u);
    EXPECT_EQ(ColourAt(bitmap, 0, 2), 0x0000FFu);
}

TEST(ShowCodes, PaintsCodedPixelsRedOverTheMatrixView) {
    TPicEval eval;
    MakeStack(eval, 3, 2);
    eval.SetTolerance(30);
    TBitmap bitmap(3, 2);
    FillBitmap(bitmap, 0x44);
    eval.ShowCodePoints(bitmap);
    EXPECT_EQ(ColourAt(bitmap, 1, 2), 0x444444u) << "no code matrix yet: nothing drawn";

    SetDot(eval, 1, 1, 0, 200, 1, 200, 0);
    eval.CalcMatrix();
    eval.ShowMatrix(2, bitmap);
    eval.ShowCodePoints(bitmap);
    EXPECT_EQ(ColourAt(bitmap, 1, 1), 0xFF0000u);
    EXPECT_EQ(ColourAt(bitmap, 0, 0), 0x7D0000u);
}

TEST(Views, EqualThePerPixelDefinitionAlsoOnIncompleteStacks) {
    TPicEval eval;
    MakeStack(eval, 29, 17);
    FillRandom(eval.Pics, 11);
    eval.SetTolerance(40);
    eval.SetMinDif(20);
    // Planes smaller than the evaluator's size, as after a failed load: positions
    // outside them read 0 and have threshold 256.
    eval.Pics.Planes[0].SetSize(20, 17);
    eval.Pics.Planes[5].SetSize(29, 9);
    FillRandom(eval.Pics, 12);
    for (std::uint8_t index :
         {std::uint8_t(2), std::uint8_t(5), std::uint8_t(16), std::uint8_t(40)}) {
        eval.Threads = index % 4 + 1; // bands of rows on several threads draw the same
        TBitmap bitmap(29, 17);
        eval.ShowMatrix(index, bitmap);
        for (std::int32_t r = 0; r < 17; ++r)
            for (std::int32_t c = 0; c < 29; ++c)
                ASSERT_EQ(ColourAt(bitmap, r, c), ReferenceMatrix(eval, index, r, c))
                    << "plane " << int(index) << " row " << r << " column " << c;
    }
    eval.SetMinDif(0);
    eval.SetTolerance(250); // negative thresholds too
    TBitmap bitmap(29, 17);
    eval.ShowEdges(bitmap);
    for (std::int32_t r = 0; r < 17; ++r)
        for (std::int32_t c = 0; c < 29; ++c)
            ASSERT_EQ(ColourAt(bitmap, r, c), ReferenceEdges(eval, r, c))
                << "row " << r << " column " << c;
}

TEST(Views, SmallerOrEightBitBitmapsTakeOnlyWhatFits) {
    TPicEval eval;
    MakeStack(eval, 6, 4);
    FillRandom(eval.Pics, 5);
    TBitmap small(3, 2);
    eval.ShowMatrix(1, small);
    eval.ShowEdges(small);
    EXPECT_EQ(ColourAt(small, 1, 2), ReferenceEdges(eval, 1, 2));

    TBitmap grey(6, 4, TPixelFormat::pf8bit);
    eval.ShowMatrix(1, grey);
    eval.ShowEdges(grey);
    eval.CalcMatrix();
    eval.ShowCodePoints(grey);
    for (std::int32_t r = 0; r < 4; ++r)
        for (std::int32_t c = 0; c < 6; ++c)
            EXPECT_EQ(grey.ScanLine(r)[c], 0);

    TPicEval empty; // nothing loaded: 0 × 0, nothing drawn
    TBitmap untouched(2, 2);
    FillBitmap(untouched, 9);
    empty.ShowMatrix(0, untouched);
    empty.ShowEdges(untouched);
    EXPECT_EQ(ColourAt(untouched, 1, 1), 0x090909u);
}
