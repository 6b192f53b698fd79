// The dots as a camera sees them: a square-on view is the plain grid, the rendered
// light of each disc has its centroid at the centre of the disc's elliptic image, and
// dots out of view are left out.

#include "SampleCamera.h"
#include "SampleLayout.h"
#include "SampleRender.h"
#include "SampleTestSupport.h"
#include "StackSuite.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <set>
#include <vector>

namespace {

// Without distortion the image of a circle is an ellipse: the conic of the circle
// carried through the homography pixel ← target. Its centre, where the light of the
// disc has its centroid, is not the image of the circle's centre.
TSampleXY EllipseCentre(const TSampleCamera& camera, double u, double v, double radius) {
    const TSampleIntrinsics& in = camera.Intrinsics;
    const TMatrix3 R = SampleRotationMatrix(camera.Pose.Rotation);
    const auto& t = camera.Pose.Translation;
    const TMatrix3 K = {in.Fx, 0, in.Cx, 0, in.Fy, in.Cy, 0, 0, 1};
    const TMatrix3 H = Multiply(K, {R[0], R[1], t[0], R[3], R[4], t[1], R[6], R[7], t[2]});
    const TMatrix3 circle = {1, 0, -u, 0, 1, -v, -u, -v, u * u + v * v - radius * radius};
    const TMatrix3 inv = Inverse(H);
    const TMatrix3 c = Multiply(Transposed(inv), Multiply(circle, inv));
    // The centre solves [a b; b d] (x, y) = −(e, f).
    const double a = c[0], b = c[1], d = c[4], e = c[2], f = c[5];
    const double det = a * d - b * b;
    return {(-e * d + f * b) / det, (-a * f + b * e) / det};
}

// The light-weighted centre of a grey picture's pixels within radius of (x, y).
TSampleXY LightCentroid(const std::vector<std::uint16_t>& picture, int width, double x, double y,
                        double radius) {
    double sum = 0, sx = 0, sy = 0;
    const int height = int(picture.size()) / width;
    for (int row = std::max(0, int(y - radius)); row <= std::min(height - 1, int(y + radius));
         ++row)
        for (int col = std::max(0, int(x - radius)); col <= std::min(width - 1, int(x + radius));
             ++col) {
            if (std::hypot(col - x, row - y) > radius)
                continue;
            const double w = picture[std::size_t(row) * width + col];
            sum += w;
            sx += w * col;
            sy += w * row;
        }
    return {sx / sum, sy / sum};
}

// Light only, neither noise nor vignetting nor a dark level, at a fine step.
TSampleOptions CleanCameraOptions(const TSampleCamera& camera) {
    TSampleOptions o = SampleOptionsOf(640, 480);
    o.Greyscale = true;
    o.Noise = 0;
    o.Vignetting = 0;
    o.Ambient = 0;
    o.Threads = 2;
    o.Camera = camera;
    return o;
}

} // namespace

// Seen square on without distortion, the target is the picture's own grid: the same
// centres, and light that differs only by the plain renderer's approximation of a
// pixel's area by a Gaussian.
TEST(SampleCamera, FrontoParallelViewWithoutDistortionIsThePlainGrid) {
    TSampleOptions plain = SmallOptions();
    plain.Greyscale = true;
    plain.Jitter = 0;
    plain.Noise = 0;
    const std::vector<TSampleDot> grid = LayoutSampleDots(plain);
    std::set<double> columns, rows;
    for (const TSampleDot& dot : grid) {
        columns.insert(dot.X);
        rows.insert(dot.Y);
    }

    TSampleOptions seen = plain;
    TSampleCamera camera;
    camera.Intrinsics = {1200, 1200, (plain.Width - 1) / 2.0, (plain.Height - 1) / 2.0, 0, 0};
    camera.Pose.Translation = {0, 0, 500}; // 10 units on the target are 24 pixels
    camera.Target.Pitch = 10;
    camera.Target.DotRadius = 2.2;
    camera.Target.Columns = int(columns.size());
    camera.Target.Rows = int(rows.size());
    seen.Camera = camera;
    const std::vector<TSampleDot> dots = LayoutSampleDots(seen);
    ASSERT_EQ(dots.size(), grid.size());
    for (std::size_t i = 0; i < dots.size(); ++i) {
        EXPECT_EQ(dots[i].Number, grid[i].Number);
        EXPECT_EQ(dots[i].Code, grid[i].Code);
        EXPECT_NEAR(dots[i].X, grid[i].X, 1e-9);
        EXPECT_NEAR(dots[i].Y, grid[i].Y, 1e-9);
        const int n = int(columns.size());
        EXPECT_EQ(dots[i].TargetX, (int(i) % n - (n - 1) / 2.0) * 10);
    }

    const std::vector<std::uint8_t> a = RenderSamplePicture(plain, grid, 2);
    const std::vector<std::uint8_t> b = RenderSamplePicture(seen, dots, 2);
    ASSERT_EQ(a.size(), b.size());
    int largest = 0;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        largest = std::max(largest, std::abs(int(a[i]) - int(b[i])));
        sum += std::abs(int(a[i]) - int(b[i]));
    }
    EXPECT_LE(largest, 3);
    EXPECT_LT(sum / double(a.size()), 0.2);
    EXPECT_EQ(RenderSamplePicture(plain, grid, 0), RenderSamplePicture(seen, dots, 0));
    EXPECT_EQ(RenderSamplePicture(plain, grid, 1), RenderSamplePicture(seen, dots, 1));
}

// The light of every disc has its centroid where the ellipse of the disc's image has
// its centre: the subsamples are fine enough for centroids to a thousandth of a
// pixel, for dots of 3 to 7 pixels at a steep angle.
TEST(SampleCamera, RenderedCentroidsAreThoseOfTheDiscImages) {
    TSampleCamera camera = TiltedCamera();
    camera.Intrinsics = {1000, 1000, 320, 240, 0, 0};
    camera.Pose.Rotation = {0.45, -0.35, 0.1};
    camera.Pose.Translation = {3, -2, 300};
    camera.Target.Pitch = 12;
    camera.Target.DotRadius = 1.0; // 2.2 to 4.6 pixels across, 3 to 7 along
    camera.Target.Columns = 20;
    camera.Target.Rows = 16;
    const TSampleOptions o = CleanCameraOptions(camera);
    const std::vector<TSampleDot> dots = LayoutSampleDots(o);
    ASSERT_GT(dots.size(), 200u);
    const std::vector<std::uint16_t> lit = RenderSamplePicture16(o, dots, 2);

    double largest = 0, biasX = 0, biasY = 0, shift = 0;
    for (const TSampleDot& dot : dots) {
        const TSampleXY centre = EllipseCentre(camera, dot.TargetX, dot.TargetY, 1.0);
        const TSampleXY light = LightCentroid(lit, o.Width, dot.X, dot.Y, 12);
        largest = std::max(largest, std::hypot(light.X - centre.X, light.Y - centre.Y));
        biasX += (light.X - centre.X) / double(dots.size());
        biasY += (light.Y - centre.Y) / double(dots.size());
        shift = std::max(shift, std::hypot(centre.X - dot.X, centre.Y - dot.Y));
    }
    EXPECT_LT(largest, 0.001);
    EXPECT_LT(std::abs(biasX), 2e-4);
    EXPECT_LT(std::abs(biasY), 2e-4);
    // The truth is the image of the disc's centre, which perspective moves off the
    // ellipse's centre by a little.
    EXPECT_GT(shift, 1e-4);
    EXPECT_LT(shift, 0.01);
}

TEST(SampleCamera, DotsOutOfViewAreLeftOut) {
    TSampleCamera camera;
    camera.Intrinsics = {800, 800, 160, 120, -0.1, 0};
    camera.Pose.Rotation = {0, 0.4, 0};
    camera.Pose.Translation = {60, 0, 500}; // the target's right part is out of view
    camera.Target = {10, 2, 30, 20, 0};
    TSampleOptions o = CleanCameraOptions(camera);
    o.Width = 320;
    o.Height = 240;
    const std::vector<TSampleDot> dots = LayoutSampleDots(o);
    ASSERT_GT(dots.size(), 50u);
    ASSERT_LT(dots.size(), 600u);
    const TSampleProjection projection(camera);
    const double reach = 2 + 4.5 * o.Blur; // half a dot and the blur, in pixels, and more
    for (const TSampleDot& dot : dots) {
        EXPECT_EQ(dot.Code, 2 * dot.Number + 1);
        EXPECT_EQ(dot.TargetX, (dot.Number % 30 - 14.5) * 10);
        EXPECT_EQ(dot.TargetY, (dot.Number / 30 - 9.5) * 10);
        EXPECT_GE(dot.X, reach);
        EXPECT_LE(dot.X, o.Width - 1 - reach);
        EXPECT_GE(dot.Y, reach);
        EXPECT_LE(dot.Y, o.Height - 1 - reach);
    }
    // No light at the border: every dot's light lies inside the picture.
    const std::vector<std::uint16_t> lit = RenderSamplePicture16(o, dots, 2);
    for (int col = 0; col < o.Width; ++col) {
        EXPECT_EQ(lit[std::size_t(col)], 0);
        EXPECT_EQ(lit[std::size_t(o.Height - 1) * o.Width + col], 0);
    }

    // Behind the camera nothing is seen.
    o.Camera->Pose.Translation = {0, 0, -500};
    EXPECT_TRUE(LayoutSampleDots(o).empty());
}
