// The camera's formulas: projection and its inverse, the rotation of a pose, the
// distortion and its inverse up to the fold, and the checks of a camera's options.

#include "SampleCamera.h"

#include "SampleLayout.h"
#include "SampleTestSupport.h"

#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

TEST(SampleCamera, ProjectsAsComputedByHand) {
    const TSampleCamera camera = TiltedCamera();
    const TSampleProjection projection(camera);

    // Turned by θ about y: X = cos θ u + tx, Y = v + ty, Z = −sin θ u + tz.
    const double u = 30, v = -20;
    const double X = std::sqrt(3.0) / 2 * u + 5, Y = v + 10, Z = -0.5 * u + 400;
    const double x = X / Z, y = Y / Z, r2 = x * x + y * y;
    const double d = 1 - 0.2 * r2 + 0.05 * r2 * r2;
    const std::optional<TSampleXY> p = projection.ToImage(u, v);
    ASSERT_TRUE(p);
    EXPECT_NEAR(p->X, 1000 * x * d + 600, 1e-9);
    EXPECT_NEAR(p->Y, 1100 * y * d + 400, 1e-9);

    // Tracing the pixel back lands on the target point.
    const std::optional<TSampleXY> back = projection.ToTarget(p->X, p->Y);
    ASSERT_TRUE(back);
    EXPECT_NEAR(back->X, u, 1e-9);
    EXPECT_NEAR(back->Y, v, 1e-9);

    // A general rotation vector: orthonormal, its axis fixed, turning by its length.
    const std::array<double, 3> w = {0.3, -0.4, 1.2};
    const TMatrix3 R = SampleRotationMatrix(w);
    const TMatrix3 identity = Multiply(R, Transposed(R));
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(identity[i], i % 4 == 0 ? 1 : 0, 1e-12);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(R[3 * i] * w[0] + R[3 * i + 1] * w[1] + R[3 * i + 2] * w[2], w[i], 1e-12);
    const double angle = std::sqrt(0.09 + 0.16 + 1.44);
    EXPECT_NEAR((R[0] + R[4] + R[8] - 1) / 2, std::cos(angle), 1e-12);
    EXPECT_EQ(SampleRotationMatrix({0, 0, 0}), (TMatrix3{1, 0, 0, 0, 1, 0, 0, 0, 1}));

    // Behind the camera there is no image, and rays that miss the plane meet no target.
    TSampleCamera behind = camera;
    behind.Pose.Translation = {0, 0, -400};
    EXPECT_FALSE(TSampleProjection(behind).ToImage(0, 0));
    EXPECT_FALSE(TSampleProjection(behind).ToTarget(600, 400));
    TSampleCamera edgeOn = camera;
    edgeOn.Intrinsics.K1 = edgeOn.Intrinsics.K2 = 0;
    // Turned by 1.2 about y, the plane's horizon is seen at column 600 − 1000 cot 1.2.
    edgeOn.Pose.Rotation = {0, 1.2, 0};
    const TSampleProjection steep(edgeOn);
    const double horizon = 600 - 1000 / std::tan(1.2);
    EXPECT_TRUE(steep.ToTarget(horizon + 0.5, 400));
    EXPECT_FALSE(steep.ToTarget(horizon - 0.5, 400)) << "beyond the horizon";
}

TEST(SampleCamera, UndistortionInvertsTheDistortion) {
    for (const auto& [k1, k2] :
         {std::pair{-0.2, 0.05}, std::pair{0.15, 0.0}, std::pair{-0.35, -0.05},
          std::pair{-0.4, 0.02}, std::pair{-0.2, 0.0}, std::pair{0.0, 0.0}}) {
        TSampleCamera camera = TiltedCamera();
        camera.Intrinsics.K1 = k1;
        camera.Intrinsics.K2 = k2;
        const TSampleProjection projection(camera);
        const double fold = projection.FoldRadius();
        if (std::isinf(fold)) {
            // Then the distorted radius grows everywhere.
            for (double r = 0; r < 20; r += 0.01)
                ASSERT_GT(1 + 3 * k1 * r * r + 5 * k2 * std::pow(r, 4), 0) << k1 << ' ' << k2;
        } else {
            // The distorted radius stops growing there.
            const double slope = 1 + 3 * k1 * fold * fold + 5 * k2 * std::pow(fold, 4);
            EXPECT_NEAR(slope, 0, 1e-9) << k1 << ' ' << k2;
        }
        const double reach = std::min(1.5, 0.999 * fold);
        for (double x = -reach; x <= reach; x += reach / 7)
            for (double y = -reach; y <= reach; y += reach / 5) {
                if (std::hypot(x, y) >= reach)
                    continue;
                const std::optional<TSampleXY> p = projection.Undistort(projection.Distort({x, y}));
                ASSERT_TRUE(p) << x << ' ' << y;
                EXPECT_NEAR(p->X, x, 1e-12) << k1 << ' ' << k2;
                EXPECT_NEAR(p->Y, y, 1e-12) << k1 << ' ' << k2;
            }
        if (std::isfinite(fold)) {
            // Beyond the fold the model is no lens: no pixel looks there.
            EXPECT_FALSE(projection.Undistort({1.01 * projection.FoldDistortedRadius(), 0}));
            camera.Pose = {{0, 0, 0}, {0, 0, 1}}; // target coordinates are normalised ones
            const TSampleProjection straight(camera);
            EXPECT_TRUE(straight.ToImage(0.99 * fold, 0));
            EXPECT_FALSE(straight.ToImage(1.01 * fold, 0));
        }
    }
}

TEST(SampleCamera, RefusesBadCameras) {
    auto expectBad = [](auto change, const char* named) {
        TSampleOptions o = SmallOptions();
        o.Camera = TSampleCamera{};
        o.Camera->Intrinsics.Cx = 159.5;
        o.Camera->Intrinsics.Cy = 119.5;
        change(*o.Camera);
        try {
            LayoutSampleDots(o);
            ADD_FAILURE() << "no error for bad " << named;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(named), std::string::npos) << e.what();
        }
    };
    expectBad([](TSampleCamera& c) { c.Intrinsics.Fx = 0; }, "Fx");
    expectBad([](TSampleCamera& c) { c.Intrinsics.Fy = std::nan(""); }, "Fy");
    expectBad([](TSampleCamera& c) { c.Intrinsics.K2 = INFINITY; }, "K2");
    expectBad([](TSampleCamera& c) { c.Pose.Rotation[1] = std::nan(""); }, "Rotation");
    expectBad([](TSampleCamera& c) { c.Target.Pitch = -1; }, "Pitch");
    expectBad([](TSampleCamera& c) { c.Target.DotRadius = 6; }, "DotRadius"); // discs touch
    expectBad([](TSampleCamera& c) { c.Target.Columns = 0; }, "Columns");
    expectBad([](TSampleCamera& c) { c.Target.Columns = c.Target.Rows = 200; }, "16384");
    expectBad([](TSampleCamera& c) { c.Target.Jitter = 3; }, "Jitter");
    expectBad([](TSampleCamera& c) { c.Pose.Translation = {0, 0, 0}; }, "plane");
    expectBad([](TSampleCamera& c) { c.Pose.Rotation = {std::numbers::pi / 2, 0, 0}; }, "plane");
    // Strong barrel distortion on a wide view folds back inside the picture.
    expectBad(
        [](TSampleCamera& c) {
            c.Intrinsics.Fx = c.Intrinsics.Fy = 150;
            c.Intrinsics.K1 = -0.4;
        },
        "K1");
    // A target so near that a dot in view would span hundreds of pixels.
    expectBad(
        [](TSampleCamera& c) {
            c.Target.Columns = c.Target.Rows = 1;
            c.Pose.Translation = {0, 0, 15};
        },
        "too close");
}
