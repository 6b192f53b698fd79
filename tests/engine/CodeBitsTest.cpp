#include "decode/CodeBits.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <vector>

// Every width up to a few vector lengths and every tolerance: the bits are the
// comparison of each pixel, in pixel order, and a partial last byte keeps its unused
// bits clear. Values and lit levels include both ends of the range and equal pairs,
// where the comparison turns.
TEST(FoldRow, GivesEachPixelsComparisonAtEveryWidthAndTolerance) {
    std::mt19937 random(7);
    const std::vector<std::uint8_t> edges{0, 1, 127, 128, 254, 255};
    for (int tolerance = 0; tolerance <= 255; ++tolerance) {
        for (std::int32_t width : {1, 7, 8, 9, 31, 32, 33, 63, 64, 65, 100}) {
            std::vector<std::uint8_t> values(std::size_t(width) + 1), lit(std::size_t(width) + 1);
            for (std::int32_t col = 0; col < width; ++col) {
                const unsigned pick = random() % 4;
                lit[std::size_t(col)] =
                    pick == 0 ? edges[random() % edges.size()] : std::uint8_t(random());
                values[std::size_t(col)] =
                    pick == 1
                        ? lit[std::size_t(col)]
                        : std::uint8_t(lit[std::size_t(col)] - tolerance + int(random() % 5) - 2);
                if (pick == 3)
                    values[std::size_t(col)] = std::uint8_t(random());
            }
            // One guard byte after the bits: nothing may be written there.
            std::vector<std::uint8_t> bits(std::size_t(width + 7) / 8 + 1, 0xA5);
            FoldRow(values.data(), lit.data(), bits.data(), width, tolerance);
            for (std::int32_t col = 0; col < width; ++col) {
                const bool above =
                    int(values[std::size_t(col)]) + tolerance > int(lit[std::size_t(col)]);
                ASSERT_EQ((bits[std::size_t(col / 8)] >> (col % 8) & 1) != 0, above)
                    << "width " << width << ", tolerance " << tolerance << ", column " << col;
            }
            if (width % 8 != 0) {
                EXPECT_EQ(bits[std::size_t(width / 8)] >> (width % 8), 0) << "width " << width;
            }
            EXPECT_EQ(bits.back(), 0xA5) << "width " << width;
        }
    }
}

// As FoldRow's test: every width, every minDif, contrasts at and around it, dark
// above lit, and both ends of the range.
TEST(DotRow, GivesEachPixelsContrastTestAtEveryWidthAndMinDif) {
    std::mt19937 random(8);
    for (int minDif = 0; minDif <= 255; ++minDif) {
        for (std::int32_t width : {1, 7, 8, 9, 31, 32, 33, 63, 64, 65, 100}) {
            std::vector<std::uint8_t> dark(std::size_t(width) + 1), lit(std::size_t(width) + 1);
            for (std::size_t col = 0; col < std::size_t(width); ++col) {
                dark[col] =
                    random() % 3 == 0 ? std::uint8_t(random() % 2 * 255) : std::uint8_t(random());
                const int contrast =
                    random() % 4 == 0 ? int(random() % 511) - 255 : minDif + int(random() % 5) - 2;
                lit[col] = std::uint8_t(std::clamp(int(dark[col]) + contrast, 0, 255));
            }
            std::vector<std::uint8_t> bits(std::size_t(width + 7) / 8 + 1, 0xA5);
            DotRow(dark.data(), lit.data(), bits.data(), width, minDif);
            for (std::int32_t col = 0; col < width; ++col) {
                const bool on = int(lit[std::size_t(col)]) - int(dark[std::size_t(col)]) > minDif;
                ASSERT_EQ((bits[std::size_t(col / 8)] >> (col % 8) & 1) != 0, on)
                    << "width " << width << ", minDif " << minDif << ", column " << col;
            }
            if (width % 8 != 0) {
                EXPECT_EQ(bits[std::size_t(width / 8)] >> (width % 8), 0) << "width " << width;
            }
            EXPECT_EQ(bits.back(), 0xA5) << "width " << width;
        }
    }
}
