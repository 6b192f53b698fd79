// The code rule and the forms the fast paths use: the folded bit of a code picture
// is the rule's bit wherever a pixel lies on a lit dot, and a row's runs made from
// folded bits are the runs of the codes the rule gives pixel by pixel.

#include "decode/CodeRule.h"

#include "decode/CodeBits.h"
#include "decode/CodeRuns.h"

#include <array>
#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <vector>

TEST(CodeRule, TheFoldedBitIsTheRulesBitOnEveryLitDot) {
    for (int tolerance = 0; tolerance <= 255; ++tolerance)
        for (int lit = 0; lit <= 255; ++lit)
            for (int value = 0; value <= 255; ++value)
                ASSERT_EQ(FoldedBit(value, lit, tolerance),
                          CodeBit(value, PixelThreshold(0, lit, -1, tolerance)))
                    << "value " << value << ", lit " << lit << ", tolerance " << tolerance;
    // Off a lit dot the threshold is 256, which no value exceeds.
    for (int value = 0; value <= 255; ++value)
        EXPECT_FALSE(CodeBit(value, PixelThreshold(200, 100, 0, 0)));
    EXPECT_EQ(PixelThreshold(10, 91, 80, 30), 61);  // 81 > 80: on a dot
    EXPECT_EQ(PixelThreshold(10, 90, 80, 30), 256); // 80 is not more than 80
    EXPECT_EQ(KeptCode(0b1011), 0b1011);
    EXPECT_EQ(KeptCode(0b1010), 0);
}

// Rows of random pictures around the thresholds, of widths that end inside a byte
// and inside a vector: BitRowRuns over DotRow's and FoldRow's bits gives exactly the
// runs ForEachCodeRun finds in the codes the rule gives each pixel.
TEST(CodeRule, RunsFromFoldedBitsAreTheRunsOfTheRulesCodes) {
    std::mt19937 random(11);
    constexpr int kPictures = kBitRowPictures;
    for (const int minDif : {0, 40, 254})
        for (const int tolerance : {1, 15, 200})
            for (const std::int32_t width : {1, 8, 13, 32, 33, 97}) {
                const std::size_t n = std::size_t(width);
                std::vector<std::uint8_t> dark(n), lit(n);
                std::array<std::vector<std::uint8_t>, kPictures> code;
                for (std::size_t col = 0; col < n; ++col) {
                    dark[col] = std::uint8_t(random() % 100);
                    lit[col] = std::uint8_t(dark[col] + random() % 156);
                }
                for (auto& picture : code) {
                    picture.resize(n);
                    for (std::size_t col = 0; col < n; ++col) // near the threshold, both sides
                        picture[col] =
                            std::uint8_t(int(lit[col]) - tolerance + int(random() % 5) - 2);
                }
                // Long runs of one code too: copy a pixel over its right neighbours.
                for (std::size_t col = 1; col < n; ++col)
                    if (random() % 3 == 0) {
                        dark[col] = dark[col - 1];
                        lit[col] = lit[col - 1];
                        for (auto& picture : code)
                            picture[col] = picture[col - 1];
                    }

                std::vector<std::int32_t> codes(n);
                for (std::size_t col = 0; col < n; ++col) {
                    const int threshold = PixelThreshold(dark[col], lit[col], minDif, tolerance);
                    std::int32_t bits = CodeBit(lit[col], threshold) ? 1 : 0;
                    for (int p = 0; p < kPictures; ++p)
                        bits |= CodeBit(code[std::size_t(p)][col], threshold) ? 2 << p : 0;
                    codes[col] = KeptCode(bits);
                }
                std::vector<TCodeRun> expected;
                ForEachCodeRun(codes.data(), width, [&](std::int32_t begin, std::int32_t end) {
                    expected.push_back({begin, end, codes[std::size_t(begin)]});
                });

                const std::size_t bytes = (n + 7) / 8;
                std::vector<std::uint8_t> dots(bytes);
                DotRow(dark.data(), lit.data(), dots.data(), width, minDif);
                std::array<std::vector<std::uint8_t>, kPictures> folded;
                std::array<const std::uint8_t*, kPictures> rows{};
                for (int p = 0; p < kPictures; ++p) {
                    folded[std::size_t(p)].resize(bytes);
                    FoldRow(code[std::size_t(p)].data(), lit.data(), folded[std::size_t(p)].data(),
                            width, tolerance);
                    rows[std::size_t(p)] = folded[std::size_t(p)].data();
                }
                std::vector<TCodeRun> runs;
                BitRowRuns(dots.data(), rows.data(), width, runs);

                ASSERT_EQ(runs.size(), expected.size())
                    << "minDif " << minDif << ", tolerance " << tolerance << ", width " << width;
                for (std::size_t i = 0; i < runs.size(); ++i) {
                    EXPECT_EQ(runs[i].Begin, expected[i].Begin);
                    EXPECT_EQ(runs[i].End, expected[i].End);
                    EXPECT_EQ(runs[i].Code, expected[i].Code);
                }
            }
}
