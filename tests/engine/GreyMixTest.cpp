#include "image/GreyMix.h"

#include "image/Pixel.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

TEST(GreyValue, SingleExamples) {
    EXPECT_EQ(GreyValue(255, 255, 255), 255);
    EXPECT_EQ(GreyValue(255, 0, 0), 76);
    EXPECT_EQ(GreyValue(0, 255, 0), 150);
    EXPECT_EQ(GreyValue(0, 0, 255), 28);
    EXPECT_EQ(GreyValue(200, 100, 40), 123);
    EXPECT_EQ(GreyValue(0, 0, 0), 0);
    // Mixes whose decimal value ends in .5 round as the binary arithmetic makes them.
    EXPECT_EQ(GreyValue(0, 5, 5), 3);   // 3.5
    EXPECT_EQ(GreyValue(0, 50, 0), 29); // 29.5
    EXPECT_EQ(GreyValue(5, 0, 0), 2);   // 1.5
    EXPECT_EQ(GreyValue(0, 0, 50), 6);  // 5.5
    TPixelTriple pixel;
    pixel.Red = 5;
    EXPECT_EQ(GreyValue(pixel), 2) << "the triple is blue, green, red";
}

// Where long double is the x87 extended format, the expression itself is the
// reference: every one of the 2^24 triples must agree with it.
TEST(GreyValue, AgreesWithExtendedArithmeticOnEveryTriple) {
    if constexpr (LDBL_MANT_DIG != 64) {
        GTEST_SKIP() << "long double here has no 64-bit significand";
    } else {
        // The constants are the extended values nearest to 0.3, 0.59 and 0.11.
        auto significand = [](long double v) {
            std::uint64_t m = 0;
            std::memcpy(&m, &v, sizeof m);
            return m;
        };
        ASSERT_EQ(significand(0.3L), 0x999999999999999AULL);
        ASSERT_EQ(significand(0.59L), 0x970A3D70A3D70A3DULL);
        ASSERT_EQ(significand(0.11L), 0xE147AE147AE147AEULL);

        int halves = 0, differFromDecimal = 0, differFromDouble = 0;
        for (int r = 0; r < 256; ++r)
            for (int g = 0; g < 256; ++g)
                for (int b = 0; b < 256; ++b) {
                    volatile long double s = (r * 0.3L + g * 0.59L) + b * 0.11L;
                    auto expected = static_cast<int>(std::nearbyint(s));
                    int got = GreyValue(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b));
                    ASSERT_EQ(got, expected) << "r " << r << " g " << g << " b " << b;
                    int hundredfold = 30 * r + 59 * g + 11 * b;
                    if (hundredfold % 100 != 50)
                        continue;
                    ++halves;
                    int whole = hundredfold / 100;
                    int decimalEven = whole % 2 == 0 ? whole : whole + 1;
                    differFromDecimal += got != decimalEven;
                    volatile double d = (r * 0.3 + g * 0.59) + b * 0.11;
                    differFromDouble += got != static_cast<int>(std::nearbyint(d));
                }
        EXPECT_EQ(halves, 167836);
        EXPECT_EQ(differFromDecimal, 17319);
        EXPECT_EQ(differFromDouble, 23266);
    }
}

// The row conversion the decoder uses, and the integer emulation of the extended
// arithmetic, must give GreyValue's result for every triple.
TEST(GreyValue, RowConversionAndEmulationAgreeOnEveryTriple) {
    std::vector<std::uint8_t> rgbx(4 * 256), out(256);
    int halves = 0;
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g) {
            for (int b = 0; b < 256; ++b) {
                rgbx[std::size_t(4 * b)] = std::uint8_t(r);
                rgbx[std::size_t(4 * b + 1)] = std::uint8_t(g);
                rgbx[std::size_t(4 * b + 2)] = std::uint8_t(b);
                rgbx[std::size_t(4 * b + 3)] = std::uint8_t(r ^ b); // filler plays no part
            }
            // Every other row in two pieces, so that the end of a row that does not
            // fill a whole group of pixels is converted too.
            if (g % 2 == 0) {
                GreyRow(rgbx.data(), out.data(), 256);
            } else {
                GreyRow(rgbx.data(), out.data(), 250);
                GreyRow(rgbx.data() + 4 * 250, out.data() + 250, 6);
            }
            for (int b = 0; b < 256; ++b) {
                const auto [rr, gg, bb] =
                    std::tuple{std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)};
                const std::uint8_t expected = GreyValue(rr, gg, bb);
                ASSERT_EQ(out[std::size_t(b)], expected) << "r " << r << " g " << g << " b " << b;
                if ((30 * r + 59 * g + 11 * b) % 100 != 50)
                    continue;
                ++halves;
                ASSERT_EQ(grey_detail::HalfwayEmulated(rr, gg, bb), expected)
                    << "r " << r << " g " << g << " b " << b;
            }
        }
    EXPECT_EQ(halves, 167836);
    ChannelRow(rgbx.data(), out.data(), 256, 1);
    EXPECT_EQ(out[17], 255) << "green of the last row";
    ChannelRow(rgbx.data(), out.data(), 256, 2);
    EXPECT_EQ(out[17], 17);
}
