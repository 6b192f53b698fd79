#include "image/Bitmap.h"

#include "TestSupport.h"
#include "base/Errors.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

std::uint32_t LE32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}
std::uint16_t LE16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

} // namespace

TEST(TBitmap, RowsAreTopFirstAndPaddedToFourBytes) {
    TBitmap bitmap(5, 3);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(bitmap.BytesPerLine(), 16u); // 15 bytes of pixels, padded
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(bitmap.ScanLine(row), bitmap.Bits() + 16 * row);
    for (std::size_t i = 0; i < 48; ++i)
        ASSERT_EQ(bitmap.Bits()[i], 0) << "byte " << i << " of a new bitmap is not black";

    bitmap.SetPixelFormat(TPixelFormat::pf8bit);
    EXPECT_EQ(bitmap.BytesPerLine(), 8u);
    EXPECT_EQ(bitmap.Width(), 5);
    EXPECT_EQ(bitmap.Height(), 3);
}

TEST(TBitmap, ImpossibleSizesAreRefused) {
    TBitmap bitmap(2, 2);
    EXPECT_THROW(bitmap.SetSize(-1, 2), std::invalid_argument);
    EXPECT_THROW(bitmap.SetSize(1 << 15, 1 << 14), std::invalid_argument); // 2^29 pixels
    EXPECT_EQ(bitmap.Width(), 2);
    EXPECT_EQ(bitmap.Height(), 2);
}

TEST(TBitmap, SavesBottomUpTwentyFourBitBmp) {
    TTempDir dir;
    TBitmap bitmap(2, 3);
    // Pixel (row r, column c) gets blue 10r + c, green 100 + r, red 200 + c.
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 2; ++c) {
            std::uint8_t* p = bitmap.ScanLine(r) + 3 * c;
            p[0] = static_cast<std::uint8_t>(10 * r + c);
            p[1] = static_cast<std::uint8_t>(100 + r);
            p[2] = static_cast<std::uint8_t>(200 + c);
        }
    bitmap.SaveToFile(dir / "out.bmp");
    std::vector<std::uint8_t> file = ReadFileBytes(dir / "out.bmp");

    const std::size_t stride = 8; // 6 bytes of pixels, padded
    ASSERT_EQ(file.size(), 54 + 3 * stride);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(LE32(file, 2), file.size());
    EXPECT_EQ(LE32(file, 10), 54u);
    EXPECT_EQ(LE32(file, 14), 40u); // BITMAPINFOHEADER
    EXPECT_EQ(LE32(file, 18), 2u);
    EXPECT_EQ(LE32(file, 22), 3u); // positive height: bottom-up
    EXPECT_EQ(LE16(file, 26), 1);
    EXPECT_EQ(LE16(file, 28), 24);
    EXPECT_EQ(LE32(file, 30), 0u); // no compression
    EXPECT_EQ(LE32(file, 34), 3 * stride);
    for (int r = 0; r < 3; ++r) {
        std::size_t at = 54 + std::size_t(2 - r) * stride; // the file's first row is the bottom one
        for (int c = 0; c < 2; ++c) {
            EXPECT_EQ(file[at + 3 * c], 10 * r + c) << "row " << r << " column " << c;
            EXPECT_EQ(file[at + 3 * c + 1], 100 + r) << "row " << r << " column " << c;
            EXPECT_EQ(file[at + 3 * c + 2], 200 + c) << "row " << r << " column " << c;
        }
        EXPECT_EQ(file[at + 6], 0);
        EXPECT_EQ(file[at + 7], 0);
    }
}

TEST(TBitmap, SavesEightBitBmpWithGreyPalette) {
    TTempDir dir;
    TBitmap bitmap(3, 1, TPixelFormat::pf8bit);
    bitmap.ScanLine(0)[0] = 7;
    bitmap.ScanLine(0)[2] = 250;
    bitmap.SaveToFile(dir / "grey.bmp");
    std::vector<std::uint8_t> file = ReadFileBytes(dir / "grey.bmp");
    ASSERT_EQ(file.size(), 54u + 1024u + 4u);
    EXPECT_EQ(LE16(file, 28), 8);
    EXPECT_EQ(LE32(file, 10), 54u + 1024u);
    EXPECT_EQ(file[54 + 4 * 250], 250); // palette entry 250 is grey 250
    EXPECT_EQ(file[54 + 1024], 7);
    EXPECT_EQ(file[54 + 1024 + 2], 250);
}

TEST(TBitmap, FailedSaveKeepsTheFormerFile) {
    TTempDir dir;
    WriteFileText(dir / "keep.bmp", "former");
    TBitmap bitmap(4, 4);
    EXPECT_THROW(bitmap.SaveToFile(dir / "missing-folder/keep.bmp"), EFileError);
    EXPECT_THROW(bitmap.SaveToFile(dir.path()), EFileError);
    EXPECT_EQ(ReadFileText(dir / "keep.bmp"), "former");
    EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{"keep.bmp"});
}
