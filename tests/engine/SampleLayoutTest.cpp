// The layout of the dots on the picture's own grid: numbers, codes, places, jitter,
// shuffled numbers and spread gains.

#include "SampleLayout.h"

#include "SampleTestSupport.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <set>
#include <stdexcept>
#include <vector>

TEST(SampleLayout, NumbersCodesAndPlacement) {
    TSampleOptions o = SmallOptions();
    std::vector<TSampleDot> dots = LayoutSampleDots(o);
    ASSERT_FALSE(dots.empty());
    std::set<int> codes;
    int offGrid = 0;
    for (std::size_t n = 0; n < dots.size(); ++n) {
        const TSampleDot& d = dots[n];
        EXPECT_EQ(d.Number, int(n));
        EXPECT_EQ(d.Code, 2 * d.Number + 1);
        codes.insert(d.Code);
        // A pitch of margin on every side.
        EXPECT_GE(d.X, o.Spacing - o.Jitter);
        EXPECT_LE(d.X, o.Width - 1 - o.Spacing + o.Jitter);
        EXPECT_GE(d.Y, o.Spacing - o.Jitter);
        EXPECT_LE(d.Y, o.Height - 1 - o.Spacing + o.Jitter);
        if (std::abs(d.X - dots[0].X - std::round((d.X - dots[0].X) / o.Spacing) * o.Spacing) >
            0.01)
            ++offGrid;
    }
    EXPECT_EQ(codes.size(), dots.size());
    EXPECT_GT(offGrid, int(dots.size()) / 2) << "jitter moves the centres off the grid";
    EXPECT_NEAR(dots[1].X - dots[0].X, o.Spacing, 2 * o.Jitter);

    o.MaxDots = 7;
    EXPECT_EQ(LayoutSampleDots(o).size(), 7u);
    o.MaxDots = 0;
    EXPECT_TRUE(LayoutSampleDots(o).empty());

    // Fewer distinct codes than dots: the codes repeat in dot order.
    o.MaxDots = 7;
    o.DistinctCodes = 3;
    std::vector<int> shared;
    for (const TSampleDot& d : LayoutSampleDots(o))
        shared.push_back(d.Code);
    EXPECT_EQ(shared, (std::vector<int>{1, 3, 5, 1, 3, 5, 1}));
    o.DistinctCodes = 0;

    // A grid with more cells than dot numbers is filled up to 16384, centred.
    o = TSampleOptions{};
    o.Width = 4000;
    o.Height = 3000;
    o.MaxDots = 100000;
    dots = LayoutSampleDots(o);
    ASSERT_EQ(dots.size(), std::size_t(kSampleMaxDots));
    EXPECT_EQ(dots.back().Code, 2 * 16383 + 1);
    EXPECT_NEAR(dots.front().Y + dots.back().Y, o.Height - 1, o.Spacing);
}

TEST(SampleLayout, ShuffledNumbersAndUnevenGainsKeepThePositions) {
    const TSampleOptions plain = SmallOptions();
    TSampleOptions varied = plain;
    varied.Shuffle = true;
    varied.GainSpread = 0.4;
    const std::vector<TSampleDot> a = LayoutSampleDots(plain);
    const std::vector<TSampleDot> b = LayoutSampleDots(varied);
    ASSERT_EQ(a.size(), b.size());
    std::set<int> codesA, codesB;
    int moved = 0;
    double lowest = 2, highest = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(b[i].X, a[i].X);
        EXPECT_EQ(b[i].Y, a[i].Y);
        EXPECT_EQ(b[i].Code, 2 * b[i].Number + 1);
        EXPECT_EQ(a[i].Gain, 1);
        codesA.insert(a[i].Code);
        codesB.insert(b[i].Code);
        moved += b[i].Code != a[i].Code;
        lowest = std::min(lowest, b[i].Gain);
        highest = std::max(highest, b[i].Gain);
    }
    EXPECT_EQ(codesB, codesA) << "the same numbers, dealt out anew";
    EXPECT_GT(moved, int(a.size()) / 2);
    EXPECT_GE(lowest, 0.6);
    EXPECT_LE(highest, 1.4);
    EXPECT_LT(lowest, 0.8);
    EXPECT_GT(highest, 1.2);

    varied.GainSpread = 0.95;
    EXPECT_THROW(LayoutSampleDots(varied), std::invalid_argument);
}
