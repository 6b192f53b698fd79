#include "refine/RefineWindow.h"

#include "refine/RefineBlobs.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <vector>

using refine_detail::DistanceTest;
using refine_detail::TBlobShape;
using refine_detail::TNeighbourGrid;

// Against the tests as written with hypot: distances near the thresholds (a few
// units in the last place off), distances of 0, huge and tiny ones.
TEST(DistanceTest, AnswersAsHypotDoesAtAndAroundEveryThreshold) {
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> coordinate(-300, 300);
    for (int trial = 0; trial < 200000; ++trial) {
        double dx = coordinate(random), dy = coordinate(random);
        if (trial % 7 == 0)
            dx = std::round(dx);
        if (trial % 11 == 0)
            dy = 0;
        const double distance = std::hypot(dx, dy);
        // A threshold at the distance itself or a few steps beside it.
        double threshold = distance;
        for (int step = int(trial % 5) - 2; step != 0; step += step > 0 ? -1 : 1)
            threshold = std::nextafter(threshold, step > 0 ? INFINITY : -INFINITY);
        const double radius = trial % 3 == 0 ? 0 : 2.5;
        const auto below = [&](double d) { return d < threshold; };
        const auto claimed = [&](double d) { return d - radius < threshold - radius; };
        const auto apart = [&](double d) { return d - radius - 1.25 > threshold - radius - 1.25; };
        ASSERT_EQ(DistanceTest(dx, dy, below), below(distance)) << dx << ", " << dy;
        ASSERT_EQ(DistanceTest(dx, dy, claimed), claimed(distance)) << dx << ", " << dy;
        ASSERT_EQ(DistanceTest(dx, dy, apart), apart(distance)) << dx << ", " << dy;
    }
    for (double dx : {0.0, 1e-200, 1e200, -3e-320}) {
        EXPECT_EQ(DistanceTest(dx, 0.0, [](double d) { return d <= 0; }), std::hypot(dx, 0.0) <= 0);
        EXPECT_EQ(DistanceTest(dx, dx, [](double d) { return d > 1; }), std::hypot(dx, dx) > 1);
    }
}

// Every point whose blob square shares a cell with the query square, each once:
// against a search of every point, for queries across the picture and over its
// border, and points of every size, some without a blob.
TEST(TNeighbourGrid, GivesEveryPointNearAQueryOnce) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> x(-5, 405), y(-5, 305), radius(0.3, 30);
    std::vector<TBlobShape> shapes(600);
    for (std::size_t p = 0; p < shapes.size(); ++p) {
        shapes[p].X = x(random);
        shapes[p].Y = y(random);
        shapes[p].Radius = radius(random);
        shapes[p].Pixels = p % 13 == 0 ? 0 : 1 + int(p);
    }
    const TNeighbourGrid grid(shapes, 400, 300);
    const auto cells = [](double v, double half, std::int32_t size) {
        const std::int32_t last = size / refine_detail::kCellPixels;
        auto cell = [&](double u) {
            return std::int32_t(
                std::clamp(std::floor(u / refine_detail::kCellPixels), 0.0, double(last)));
        };
        return std::pair{cell(v - half), cell(v + half)};
    };
    for (int query = 0; query < 400; ++query) {
        const double qx = x(random), qy = y(random), reach = radius(random) * 2;
        std::vector<std::int32_t> found;
        grid.Near(qx, qy, reach, [&](std::int32_t p) { found.push_back(p); });
        std::vector<std::int32_t> expected;
        const auto [qc0, qc1] = cells(qx, reach, 400);
        const auto [qr0, qr1] = cells(qy, reach, 300);
        for (std::size_t p = 0; p < shapes.size(); ++p) {
            const TBlobShape& s = shapes[p];
            const auto [c0, c1] = cells(s.X, s.Radius, 400);
            const auto [r0, r1] = cells(s.Y, s.Radius, 300);
            if (s.Pixels != 0 && c0 <= qc1 && qc0 <= c1 && r0 <= qr1 && qr0 <= r1)
                expected.push_back(std::int32_t(p));
        }
        std::sort(found.begin(), found.end());
        ASSERT_EQ(found, expected) << "query " << query;
    }
}
