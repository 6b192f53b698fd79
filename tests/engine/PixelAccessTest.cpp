#include "image/PixelAccess.h"

#include "image/Bitmap.h"
#include "image/Pixel.h"

#include <gtest/gtest.h>

TEST(TBitmapPixMan, AcceptsExactlyThePixelsOfTheImage) {
    TBitmap bitmap(4, 3);
    TBitmapPixMan pixels(bitmap);
    EXPECT_TRUE(pixels.SetPixel(2, 3, 0x010203));
    EXPECT_TRUE(pixels.SetPixel(0, 0, 0x010203));
    for (auto [row, col] :
         {std::pair{3, 0}, {0, 4}, {-1, 0}, {0, -1}, {INT32_MIN, 0}, {0, INT32_MAX}}) {
        EXPECT_FALSE(pixels.SetPixel(row, col, 0xFFFFFF)) << row << ", " << col;
        bool ok = true;
        TPixelTriple pixel{9, 9, 9};
        pixels.GetPixel(row, col, ok, pixel);
        EXPECT_FALSE(ok);
        EXPECT_EQ(pixel.Blue + pixel.Green + pixel.Red, 0) << "a failed read clears the triple";
    }
    // Only the two pixels written above are non-black.
    int written = 0;
    for (int r = 0; r < 3; ++r)
        for (int i = 0; i < 12; ++i)
            written += bitmap.ScanLine(r)[i] != 0;
    EXPECT_EQ(written, 6);
}

TEST(TBitmapPixMan, StoresBlueGreenRedAndIgnoresTheTopByte) {
    TBitmap bitmap(2, 1);
    TBitmapPixMan pixels(bitmap);
    ASSERT_TRUE(pixels.SetPixel(0, 0, 0xFF0000));
    ASSERT_TRUE(pixels.SetPixel(0, 1, 0xAB123456));
    const std::uint8_t* p = bitmap.ScanLine(0);
    EXPECT_EQ(p[0], 0x00);
    EXPECT_EQ(p[1], 0x00);
    EXPECT_EQ(p[2], 0xFF);
    EXPECT_EQ(p[3], 0x56);
    EXPECT_EQ(p[4], 0x34);
    EXPECT_EQ(p[5], 0x12);

    pixels.SetPixel(0, 0, 0x808080);
    bool ok = false;
    TPixelTriple pixel;
    pixels.GetPixel(0, 0, ok, pixel);
    EXPECT_TRUE(ok);
    EXPECT_EQ(pixel.Blue, 0x80);
    EXPECT_EQ(pixel.Green, 0x80);
    EXPECT_EQ(pixel.Red, 0x80);
}

TEST(TBitmapPixMan, RefusesEveryAccessToAnImageThatIsNotTwentyFourBit) {
    TBitmap bitmap(3, 2, TPixelFormat::pf8bit);
    bitmap.ScanLine(0)[0] = 77;
    TBitmapPixMan pixels(bitmap);
    EXPECT_FALSE(pixels.SetPixel(0, 0, 0xFFFFFF));
    EXPECT_EQ(bitmap.ScanLine(0)[0], 77);
    EXPECT_EQ(bitmap.ScanLine(0)[1], 0);
    bool ok = true;
    TPixelTriple pixel{1, 2, 3};
    pixels.GetPixel(0, 0, ok, pixel);
    EXPECT_FALSE(ok);
    EXPECT_EQ(pixel.Red, 0);
}

TEST(TBitmapPixMan, EmptyImageHasNoPixels) {
    TBitmap bitmap;
    TBitmapPixMan pixels(bitmap);
    EXPECT_FALSE(pixels.RowOk(0));
    EXPECT_FALSE(pixels.ColOk(0));
    EXPECT_FALSE(pixels.SetPixel(0, 0, 1));
    EXPECT_FALSE(TBitmapPixMan::InRange(0, -1));
    EXPECT_TRUE(TBitmapPixMan::InRange(5, 5));
}
