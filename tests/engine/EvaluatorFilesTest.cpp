// The files of the evaluator's whole run: the points file, the marks on the display
// and the marked picture, on one thread or several, and what a write that fails
// leaves.

#include "EvalSupport.h"
#include "TestSupport.h"
#include "base/Errors.h"
#include "files/FileUtil.h"
#include "image/Bitmap.h"
#include "image/Plane.h"
#include "pipeline/Evaluator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

std::uint32_t ColourAt(const TBitmap& bitmap, std::int32_t row, std::int32_t col) {
    const std::uint8_t* p = bitmap.ScanLine(row) + 3 * col;
    return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

// A 24 × 16 stack with three dots whose centres are known:
//   code 3 (bits 1): columns 2–3, rows 4–5 → 2.50 4.50, 4 pixels
//   code 5: eight pixels in columns 10–11 → 10.125 10.625
//   code 7 at one pixel, column 20, row 0
struct TThreeDots {
    TPicEval eval;
    TThreeDots() {
        MakeStack(eval, 24, 16);
        eval.SetTolerance(30);
        eval.SetMinDif(80);
        for (std::int32_t r = 0; r < 16; ++r)
            for (std::int32_t c = 0; c < 24; ++c)
                SetPlaneValue(eval.Pics.Planes[2], r, c, 50); // plane 2 as a backdrop
        for (auto [r, c] : {std::pair{4, 2}, {4, 3}, {5, 2}, {5, 3}})
            SetDot(eval, r, c, 10, 200, 1, 200, 5);
        // Seven pixels in column 10 and one in column 11 give SumX 81; rows 8–14 and 8
        // give SumY 85: the centre is (10.125, 10.625), two exact halves.
        for (std::int32_t r = 0; r < 7; ++r)
            SetDot(eval, r + 8, 10, 10, 200, 2, 200, 5);
        SetDot(eval, 8, 11, 10, 200, 2, 200, 5);
        SetDot(eval, 0, 20, 10, 200, 3, 200, 5);
    }
};

} // namespace

TEST(Evaluate, WritesPointsMarksAndTheBitmap) {
    TTempDir dir;
    TThreeDots stack;
    TBitmap display(24, 16);
    stack.eval.Evaluate(dir / "out.txt", true, display);

    EXPECT_EQ(ReadFileText(dir / "out.txt"),
              "3 2.50 4.50 4\r\n5 10.13 10.63 8\r\n7 20.00 0.00 1\r\n");
    // Marks at the rounded centres, halves to even: (2.5, 4.5) → column 2, row 4;
    // (10.125, 10.625) → column 10, row 11.
    EXPECT_EQ(ColourAt(display, 4, 2), 0xFF0000u);
    EXPECT_EQ(ColourAt(display, 11, 10), 0xFF0000u);
    EXPECT_EQ(ColourAt(display, 0, 20), 0xFF0000u);
    EXPECT_EQ(ColourAt(display, 5, 3), 200 * 0x010101u) << "plane 2 as grey elsewhere";
    EXPECT_EQ(ColourAt(display, 15, 23), 50 * 0x010101u);

    // The BMP shows the same picture, built afresh.
    std::vector<std::uint8_t> bmp = ReadFileBytes(dir / "out.bmp");
    const std::size_t stride = 24 * 3;
    ASSERT_EQ(bmp.size(), 54 + 16 * stride);
    for (std::int32_t r = 0; r < 16; ++r)
        for (std::size_t i = 0; i < stride; ++i)
            ASSERT_EQ(bmp[54 + std::size_t(15 - r) * stride + i], display.ScanLine(r)[i])
                << "row " << r << " byte " << i;
}

TEST(Evaluate, BitmapNameReplacesTheExtension) {
    TTempDir dir;
    TThreeDots stack;
    TBitmap display(24, 16);
    stack.eval.Evaluate(dir / "out", true, display);
    EXPECT_TRUE(FileExists(dir / "out"));
    EXPECT_TRUE(FileExists(dir / "out.bmp"));

    // A points file named .bmp would be lost under the bitmap: refused while the
    // bitmap is on, before anything is written; without the bitmap it is a name.
    WriteFileText(dir / "both.bmp", "kept");
    try {
        stack.eval.Evaluate(dir / "both.bmp", true, display);
        ADD_FAILURE() << "a points file named like its bitmap was taken";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("both.bmp"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadFileText(dir / "both.bmp"), "kept");
    stack.eval.Evaluate(dir / "both.bmp", false, display);
    EXPECT_NE(ReadFileText(dir / "both.bmp"), "kept");

    stack.eval.Evaluate(dir / "nobitmap.txt", false, display);
    EXPECT_FALSE(FileExists(dir / "nobitmap.bmp"));
}

TEST(Evaluate, SecondRunWritesOnlyItsOwnPoints) {
    TTempDir dir;
    TThreeDots stack;
    TBitmap display(24, 16);
    stack.eval.Evaluate(dir / "a.txt", false, display);
    stack.eval.SetMinDif(255); // nothing is lit any more
    stack.eval.Evaluate(dir / "a.txt", true, display);
    EXPECT_EQ(ReadFileBytes(dir / "a.txt").size(), 0u);
    EXPECT_EQ(ColourAt(display, 4, 2), 200 * 0x010101u) << "no marks";
}

TEST(Evaluate, UnwritablePointsFileLeavesDisplayAndBitmapAlone) {
    TTempDir dir;
    TThreeDots stack;
    TBitmap display(24, 16);
    std::fill(display.Bits(), display.Bits() + display.BytesPerLine() * 16, 0x33);
    EXPECT_THROW(stack.eval.Evaluate(dir / "missing/out.txt", true, display), EFileError);
    EXPECT_EQ(ColourAt(display, 0, 0), 0x333333u);
    EXPECT_FALSE(FileExists(dir / "missing/out.bmp"));
    EXPECT_TRUE(ListFolder(dir.path()).empty());
}

TEST(Evaluate, OneThreadOrSeveralWriteTheSameFiles) {
    TTempDir dir;
    TThreeDots stack;
    FillRandom(stack.eval.Pics, 9); // a busy plane 2 for the bitmap
    stack.eval.SetMinDif(10);
    for (int threads : {1, 2, 4}) {
        stack.eval.Threads = threads;
        TBitmap display(24, 16);
        const std::string name = dir / ("t" + std::to_string(threads) + ".txt");
        stack.eval.Evaluate(name, true, display);
    }
    EXPECT_GT(ReadFileBytes(dir / "t1.txt").size(), 10u);
    for (const char* other : {"t2", "t4"}) {
        EXPECT_EQ(ReadFileBytes(dir / (std::string(other) + ".txt")),
                  ReadFileBytes(dir / "t1.txt"));
        EXPECT_EQ(ReadFileBytes(dir / (std::string(other) + ".bmp")),
                  ReadFileBytes(dir / "t1.bmp"));
    }
}

TEST(Evaluate, UnwritableBitmapFailsAfterThePointsAndTheMarks) {
    for (int threads : {1, 2}) {
        TTempDir dir;
        TThreeDots stack;
        stack.eval.Threads = threads;
        ASSERT_EQ(::mkdir((dir / "out.bmp").c_str(), 0755), 0); // a folder where the bitmap goes
        TBitmap display(24, 16);
        EXPECT_THROW(stack.eval.Evaluate(dir / "out.txt", true, display), EFileError);
        EXPECT_EQ(ReadFileText(dir / "out.txt"),
                  "3 2.50 4.50 4\r\n5 10.13 10.63 8\r\n7 20.00 0.00 1\r\n");
        EXPECT_EQ(ColourAt(display, 4, 2), 0xFF0000u) << "the marks are drawn";
        EXPECT_EQ(ListFolder(dir.path()), (std::vector<std::string>{"out.bmp", "out.txt"}))
            << "threads " << threads << ": no temporary file may stay behind";
    }
}
