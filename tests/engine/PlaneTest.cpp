#include "PicHolder.h"

#include <gtest/gtest.h>

namespace {

TPic PlaneOf(std::int32_t width, std::int32_t height) {
    TPic plane;
    plane.SetSize(width, height);
    return plane;
}

} // namespace

TEST(PlaneValue, OnlyPositionsInsideThePlaneAreRead) {
    TPic plane = PlaneOf(4, 3);
    EXPECT_TRUE(SetPlaneValue(plane, 2, 3, 99));
    EXPECT_EQ(plane.Data[2][3], 99);
    for (auto [row, col] : {std::pair{3, 0}, {0, 4}, {-1, 0}, {0, -1}}) {
        EXPECT_FALSE(SetPlaneValue(plane, row, col, 1)) << row << ", " << col;
        std::uint8_t value = 42;
        EXPECT_FALSE(GetPlaneValue(plane, row, col, value));
        EXPECT_EQ(value, 42) << "a read outside keeps the caller's value";
    }
    std::uint8_t value = 0;
    EXPECT_TRUE(GetPlaneValue(plane, 2, 3, value));
    EXPECT_EQ(value, 99);
    std::size_t nonZero = 0;
    for (std::size_t i = 0; i < plane.Data.size(); ++i)
        nonZero += plane.Data.data()[i] != 0;
    EXPECT_EQ(nonZero, 1u) << "refused writes must change nothing";
}

TEST(TPics, SetCountReplacesEveryPlane) {
    TPics pics;
    pics.SetCount(256, 3, 2);
    ASSERT_EQ(pics.Count(), 256);
    SetPlaneValue(pics.Planes[255], 1, 2, 7);
    EXPECT_EQ(pics.GetValue(255, 1, 2), 7);
    EXPECT_EQ(pics.GetValue(0, 1, 2), 0);

    pics.SetCount(2, 5, 1);
    ASSERT_EQ(pics.Count(), 2);
    EXPECT_EQ(pics.Planes[1].Width, 5);
    EXPECT_EQ(pics.Planes[1].Height, 1);
    EXPECT_EQ(pics.Planes[1].Data.size(), 5u);
}

TEST(TPics, ImpossibleSetCountKeepsThePlanes) {
    TPics pics;
    pics.SetCount(3, 4, 4);
    EXPECT_THROW(pics.SetCount(257, 1, 1), std::invalid_argument);
    EXPECT_THROW(pics.SetCount(-1, 1, 1), std::invalid_argument);
    EXPECT_THROW(pics.SetCount(2, -1, 1), std::invalid_argument);
    EXPECT_THROW(pics.SetCount(2, 1 << 15, 1 << 14), std::invalid_argument);
    EXPECT_EQ(pics.Count(), 3);
    EXPECT_EQ(pics.Planes[2].Width, 4);
}

TEST(TPics, ValuesOutsideThePlaneOrTheStackAreZero) {
    TPics pics;
    pics.SetCount(2, 3, 3);
    SetPlaneValue(pics.Planes[1], 0, 0, 5);
    std::uint8_t value = 33;
    EXPECT_TRUE(pics.TryGetValue(1, 0, 0, value));
    EXPECT_EQ(value, 5);
    value = 33;
    EXPECT_FALSE(pics.TryGetValue(1, 3, 0, value));
    EXPECT_EQ(value, 33);
    EXPECT_FALSE(pics.TryGetValue(2, 0, 0, value)) << "plane 2 does not exist";
    EXPECT_FALSE(pics.TryGetValue(255, 0, 0, value));
    EXPECT_EQ(value, 33);
    EXPECT_EQ(pics.GetValue(1, -1, 0), 0);
    EXPECT_EQ(pics.GetValue(200, 0, 0), 0);
}

struct CheckSizeCase {
    const char* name;
    std::vector<std::pair<int, int>> planes; // width, height
    bool result;
    std::int32_t height, width; // outputs, starting from -7, -7
};

class CheckSize : public testing::TestWithParam<CheckSizeCase> {};

TEST_P(CheckSize, WritesThePlaneZeroSizeOnlyWhileNoMismatchWasMet) {
    const CheckSizeCase& c = GetParam();
    TPics pics;
    pics.SetCount(static_cast<std::int32_t>(c.planes.size()), 0, 0);
    for (std::size_t i = 0; i < c.planes.size(); ++i)
        pics.Planes[i].SetSize(c.planes[i].first, c.planes[i].second);
    std::int32_t height = -7, width = -7;
    EXPECT_EQ(pics.CheckSize(height, width), c.result);
    EXPECT_EQ(height, c.height);
    EXPECT_EQ(width, c.width);
}

INSTANTIATE_TEST_SUITE_P(
    Stacks, CheckSize,
    testing::Values(
        CheckSizeCase{"AllAlike", {{640, 480}, {640, 480}, {640, 480}}, true, 480, 640},
        CheckSizeCase{"OnePlane", {{640, 480}}, true, -7, -7},
        CheckSizeCase{"NoPlane", {}, true, -7, -7},
        CheckSizeCase{"LaterPlaneDiffers", {{640, 480}, {640, 480}, {320, 240}}, false, 480, 640},
        CheckSizeCase{"SecondPlaneDiffers", {{640, 480}, {320, 240}, {640, 480}}, false, -7, -7},
        CheckSizeCase{"OnlyHeightDiffers", {{640, 480}, {640, 479}}, false, -7, -7}),
    [](const testing::TestParamInfo<CheckSizeCase>& param) { return param.param.name; });

TEST(TPics, ShowPictureDrawsThePlaneAsGreyAndNothingElse) {
    TPics pics;
    pics.SetCount(1, 3, 2);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            SetPlaneValue(pics.Planes[0], r, c, 0x80);

    TBitmap larger(5, 4);
    std::fill(larger.Bits(), larger.Bits() + larger.BytesPerLine() * 4, 0x11);
    pics.ShowPicture(0, larger);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 5; ++c)
            for (int k = 0; k < 3; ++k)
                ASSERT_EQ(larger.ScanLine(r)[3 * c + k], r < 2 && c < 3 ? 0x80 : 0x11)
                    << "row " << r << " column " << c;

    TBitmap smaller(2, 1);
    pics.ShowPicture(0, smaller); // the plane beyond the bitmap is not drawn
    EXPECT_EQ(smaller.ScanLine(0)[5], 0x80);

    TBitmap grey(3, 2, TPixelFormat::pf8bit);
    pics.ShowPicture(0, grey);
    EXPECT_EQ(grey.ScanLine(0)[0], 0) << "an 8-bit bitmap stays unchanged";

    TBitmap untouched(3, 2);
    pics.ShowPicture(1, untouched); // no such plane
    pics.ShowPicture(255, untouched);
    EXPECT_EQ(untouched.ScanLine(1)[8], 0);
}
