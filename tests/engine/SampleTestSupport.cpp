// Helpers shared by the tests of the sample generator.

#include "SampleTestSupport.h"

#include "StackSuite.h"

#include <gtest/gtest.h>
#include <numbers>

TSampleOptions SmallOptions() {
    TSampleOptions o = SampleOptionsOf(320, 240);
    o.Threads = 2;
    return o;
}

std::map<int, TDecodedPoint> DecodePoints(const std::vector<std::vector<std::uint8_t>>& planes,
                                          int width, int height) {
    std::map<int, TDecodedPoint> points;
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col) {
            const std::size_t i = std::size_t(row) * width + col;
            const int lit = planes[2][i];
            if (lit - planes[0][i] <= 80)
                continue;
            int code = 0;
            for (int l = 0; l <= 14; ++l)
                if (planes[l + 2][i] > lit - 30)
                    code |= 1 << l;
            TDecodedPoint& p = points[code];
            p.X += col;
            p.Y += row;
            ++p.Pixels;
        }
    for (auto& [code, p] : points) {
        p.X /= p.Pixels;
        p.Y /= p.Pixels;
    }
    return points;
}

void ExpectDecodes(const std::vector<std::vector<std::uint8_t>>& planes, int width, int height,
                   const std::vector<TSampleDot>& dots, double maxError) {
    const std::map<int, TDecodedPoint> points = DecodePoints(planes, width, height);
    EXPECT_EQ(points.size(), dots.size());
    double biasX = 0, biasY = 0;
    for (const TSampleDot& dot : dots) {
        auto it = points.find(dot.Code);
        ASSERT_NE(it, points.end()) << "dot " << dot.Number << " not found";
        EXPECT_GT(it->second.Pixels, 20) << "dot " << dot.Number;
        EXPECT_NEAR(it->second.X, dot.X, maxError) << "dot " << dot.Number;
        EXPECT_NEAR(it->second.Y, dot.Y, maxError) << "dot " << dot.Number;
        biasX += (it->second.X - dot.X) / double(dots.size());
        biasY += (it->second.Y - dot.Y) / double(dots.size());
    }
    EXPECT_NEAR(biasX, 0, 0.03);
    EXPECT_NEAR(biasY, 0, 0.03);
}

TSampleCamera TiltedCamera() {
    TSampleCamera camera;
    camera.Intrinsics = {1000, 1100, 600, 400, -0.2, 0.05};
    camera.Pose.Rotation = {0, std::numbers::pi / 6, 0};
    camera.Pose.Translation = {5, 10, 400};
    return camera;
}
TMatrix3 Multiply(const TMatrix3& a, const TMatrix3& b) {
    TMatrix3 c{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                c[3 * i + j] += a[3 * i + k] * b[3 * k + j];
    return c;
}

TMatrix3 Inverse(const TMatrix3& m) {
    const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                       m[2] * (m[3] * m[7] - m[4] * m[6]);
    return {(m[4] * m[8] - m[5] * m[7]) / det, (m[2] * m[7] - m[1] * m[8]) / det,
            (m[1] * m[5] - m[2] * m[4]) / det, (m[5] * m[6] - m[3] * m[8]) / det,
            (m[0] * m[8] - m[2] * m[6]) / det, (m[2] * m[3] - m[0] * m[5]) / det,
            (m[3] * m[7] - m[4] * m[6]) / det, (m[1] * m[6] - m[0] * m[7]) / det,
            (m[0] * m[4] - m[1] * m[3]) / det};
}

TMatrix3 Transposed(const TMatrix3& m) {
    return {m[0], m[3], m[6], m[1], m[4], m[7], m[2], m[5], m[8]};
}
