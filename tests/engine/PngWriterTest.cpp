// The PNG writer: every colour type and depth reads back with its values, rows made
// in bands write the same file, and failures leave no file and name it.

#include "PngWriter.h"

#include "PictureReadBack.h"
#include "TestSupport.h"
#include "base/Errors.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <png.h>
#include <stdexcept>
#include <string>
#include <vector>

TEST(PngWriter, EveryKindReadsBackWithItsValues) {
    struct TCase {
        TPngColour Colour;
        int Samples, Bits, Entries;
        bool Interlaced;
        int Compression;
    };
    const TCase cases[] = {
        {TPngColour::Grey, 1, 1, 0, false, 6},       {TPngColour::Grey, 1, 2, 0, true, 6},
        {TPngColour::Grey, 1, 4, 0, false, 0},       {TPngColour::Grey, 1, 8, 0, false, 9},
        {TPngColour::Grey, 1, 16, 0, true, 6},       {TPngColour::GreyAlpha, 2, 8, 0, false, 6},
        {TPngColour::GreyAlpha, 2, 16, 0, false, 1}, {TPngColour::Rgb, 3, 8, 0, true, 6},
        {TPngColour::Rgb, 3, 16, 0, false, 6},       {TPngColour::Rgba, 4, 8, 0, false, 6},
        {TPngColour::Rgba, 4, 16, 0, true, 6},       {TPngColour::Palette, 1, 1, 2, false, 6},
        {TPngColour::Palette, 1, 2, 4, false, 6},    {TPngColour::Palette, 1, 4, 16, true, 6},
        {TPngColour::Palette, 1, 8, 200, false, 6},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE("colour " + std::to_string(int(c.Colour)) + ", " + std::to_string(c.Bits) +
                     " bits" + (c.Interlaced ? ", interlaced" : ""));
        // Odd sizes, so that packed rows end inside a byte and Adam7 passes are partial.
        TRawPicture picture =
            PatternSamples(13, 7, c.Samples, c.Bits, unsigned(c.Bits * 7 + c.Samples));
        for (int i = 0; i < c.Entries; ++i)
            picture.Palette.push_back(
                {std::uint16_t(i), std::uint16_t(255 - i), std::uint16_t(i * 3 % 256)});
        if (c.Entries > 0)
            for (std::uint32_t& v : picture.Values)
                v %= std::uint32_t(c.Entries);
        const TPngRead read = ReadPng(EncodePng(picture, {c.Colour, c.Interlaced, c.Compression}));
        EXPECT_TRUE(SameValues(picture, read.Picture));
        EXPECT_EQ(read.Picture.Palette, picture.Palette);
        EXPECT_EQ(read.Interlace, c.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE);
        const int types[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                             PNG_COLOR_TYPE_RGB_ALPHA, PNG_COLOR_TYPE_PALETTE};
        EXPECT_EQ(read.ColourType, types[int(c.Colour)]);
    }
}

TEST(PngWriter, RowsInBandsWriteTheSameFileAndErrorsNameIt) {
    TTempDir dir;
    const TRawPicture picture = PatternSamples(29, 23, 3, 16, 5);
    const TPngWriteOptions interlaced{TPngColour::Rgb, true, 6};
    const TPngWriteOptions rgb{TPngColour::Rgb, false, 6};
    int calls = 0;
    auto rows = [&](int first, int count, std::uint32_t* samples) {
        ++calls;
        std::copy_n(picture.Values.data() + first * 29 * 3, count * 29 * 3, samples);
    };
    WritePngRows(dir / "rows.png", picture, rows, 5, interlaced);
    EXPECT_EQ(ReadFileBytes(dir / "rows.png"), EncodePng(picture, interlaced));
    EXPECT_EQ(calls, 7 * 5) << "five bands for each of the seven passes";
    WritePng(dir / "whole.png", picture, interlaced);
    EXPECT_EQ(ReadFileBytes(dir / "whole.png"), ReadFileBytes(dir / "rows.png"));

    // Nothing is put in place when the source, the picture or libpng fails.
    const std::string path = dir / "bad.png";
    auto failing = [&](int first, int count, std::uint32_t* samples) {
        if (first > 0)
            throw std::length_error("band failed");
        rows(first, count, samples);
    };
    EXPECT_THROW(WritePngRows(path, picture, failing, 5, rgb), std::length_error);
    auto tooLarge = [](int, int count, std::uint32_t* samples) {
        std::fill_n(samples, count * 29 * 3, 256u);
    };
    TPictureShape eightBit = picture;
    eightBit.Bits = 8;
    const std::string range = ErrorOf([&] { WritePngRows(path, eightBit, tooLarge, 5, rgb); });
    EXPECT_NE(range.find("row 0 holds the value 256"), std::string::npos) << range;
    EXPECT_THROW(WritePng(path, picture, {TPngColour::Rgba, false, 6}), std::invalid_argument);
    TRawPicture fourBit = PatternSamples(4, 4, 3, 4, 1);
    const std::string refused = ErrorOf([&] { WritePng(path, fourBit, rgb); });
    EXPECT_NE(refused.find(path), std::string::npos) << refused;
    EXPECT_THROW(WritePng(path, fourBit, rgb), std::runtime_error);
    const std::vector<std::string> left = ListFolder(dir.path());
    EXPECT_EQ(left, (std::vector<std::string>{"rows.png", "whole.png"}));
    EXPECT_THROW(WritePng(dir / "missing/x.png", picture, rgb), EFileError);
}
