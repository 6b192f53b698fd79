// The truth files of a stack: the reader names a bad line; with a camera the truth,
// target and camera files hold what the stack was made of, and the photographs
// decode at the true centres.

#include "SampleTruth.h"

#include "SampleCamera.h"
#include "SampleStack.h"
#include "SampleTestSupport.h"
#include "TestSupport.h"
#include "base/Errors.h"
#include "files/FileUtil.h"
#include "input/Pics.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

TEST(SampleStackFiles, TruthReaderNamesTheBadLine) {
    TTempDir dir;
    WriteFileText(dir / "t.csv", "dot,code,x,y\n0,1,10.000,12.500\n1,3,34.0\n");
    try {
        ReadSampleTruth(dir / "t.csv");
        FAIL() << "no error for a short line";
    } catch (const EFileError& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find(dir / "t.csv"), std::string::npos) << what;
        EXPECT_NE(what.find("line 3"), std::string::npos) << what;
    }
    WriteFileText(dir / "h.csv", "n,code,x,y\n");
    EXPECT_THROW(ReadSampleTruth(dir / "h.csv"), EFileError);
}

TEST(SampleCamera, TruthTargetAndCameraFiles) {
    TTempDir dir;
    TSampleCamera camera = TiltedCamera();
    camera.Intrinsics = {700, 710, 161.25, 118.5, -0.1, 0.02};
    camera.Pose.Rotation = {0.1, 0.2, 0.3};
    camera.Pose.Translation = {1, 2, 350};
    camera.Target = {8, 1.5, 20, 14, 0.25};
    TSampleOptions o = SmallOptions();
    o.Shuffle = true;
    o.Camera = camera;
    const TSampleStack stack = WriteSampleStack(dir.path(), "cam", o);
    ASSERT_GT(stack.Dots.size(), 100u);
    EXPECT_EQ(stack.TargetFile, dir / "cam_target.csv");
    EXPECT_EQ(stack.CameraFile, dir / "cam_camera.json");

    const std::vector<TSampleDot> truth = ReadSampleTruth(stack.TruthFile);
    ASSERT_EQ(truth.size(), stack.Dots.size());
    const std::vector<std::string> truthLines = SplitLines(ReadFileText(stack.TruthFile));
    EXPECT_EQ(truthLines[1].size() - truthLines[1].rfind('.'), 7u) << "six decimals";
    const std::vector<std::string> target = SplitLines(ReadFileText(stack.TargetFile));
    ASSERT_EQ(target.size(), stack.Dots.size() + 1);
    EXPECT_EQ(target[0], "dot,code,target_x,target_y");
    const TSampleProjection projection(camera);
    for (std::size_t i = 0; i < truth.size(); ++i) {
        const TSampleDot& dot = stack.Dots[i];
        EXPECT_EQ(truth[i].Code, dot.Code);
        EXPECT_NEAR(truth[i].X, dot.X, 5e-7);
        EXPECT_NEAR(truth[i].Y, dot.Y, 5e-7);
        int number = 0, code = 0;
        double u = 0, v = 0;
        ASSERT_EQ(std::sscanf(target[i + 1].c_str(), "%d,%d,%lf,%lf", &number, &code, &u, &v), 4);
        EXPECT_EQ(number, dot.Number);
        EXPECT_EQ(code, dot.Code);
        EXPECT_EQ(u, dot.TargetX) << "read back exactly";
        EXPECT_EQ(v, dot.TargetY);
        const std::optional<TSampleXY> p = projection.ToImage(u, v);
        ASSERT_TRUE(p);
        EXPECT_NEAR(p->X, dot.X, 1e-9);
        EXPECT_NEAR(p->Y, dot.Y, 1e-9);
    }
    const std::string json = ReadFileText(stack.CameraFile);
    for (const char* field :
         {"\"fx\": 700,", "\"fy\": 710,", "\"cx\": 161.25,", "\"k1\": -0.1,", "\"k2\": 0.02,",
          "\"rotation\": [0.1, 0.2, 0.3],", "\"translation\": [1, 2, 350],", "\"pitch\": 8,",
          "\"jitter\": 0.25}", "\"width\": 320,"})
        EXPECT_NE(json.find(field), std::string::npos) << field << '\n' << json;
    EXPECT_NE(json.find("\"dots\": " + std::to_string(stack.Dots.size())), std::string::npos);

    // Jitter moves the dots off the grid on the target, by at most its value.
    int offGrid = 0;
    for (const TSampleDot& dot : stack.Dots) {
        const double gx = dot.TargetX / 8 + 9.5, gy = dot.TargetY / 8 + 6.5;
        EXPECT_LE(std::abs(gx - std::round(gx)) * 8, 0.25 + 1e-12);
        offGrid += std::abs(gx - std::round(gx)) > 1e-6;
        EXPECT_LE(std::abs(gy - std::round(gy)) * 8, 0.25 + 1e-12);
    }
    EXPECT_GT(offGrid, int(stack.Dots.size()) / 2);

    // Through the files and the engine's loader, every dot decodes near its centre.
    TPics pics;
    TLoadOptions options;
    options.BaseFolder = ExtractFilePath(stack.ListFile);
    ASSERT_TRUE(pics.LoadFromList(stack.ListFile, false, kChannelGrey, options))
        << pics.LastError();
    std::vector<std::vector<std::uint8_t>> planes;
    for (const TPic& plane : pics.Planes)
        planes.emplace_back(plane.Data.data(), plane.Data.data() + plane.Data.size());
    const std::map<int, TDecodedPoint> points = DecodePoints(planes, o.Width, o.Height);
    EXPECT_EQ(points.size(), stack.Dots.size());
    for (const TSampleDot& dot : stack.Dots) {
        auto it = points.find(dot.Code);
        ASSERT_NE(it, points.end()) << "dot " << dot.Number;
        EXPECT_NEAR(it->second.X, dot.X, 0.4) << "dot " << dot.Number;
        EXPECT_NEAR(it->second.Y, dot.Y, 0.4) << "dot " << dot.Number;
    }
}
