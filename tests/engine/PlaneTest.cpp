// A plane: its values read and written only inside it.

#include "image/Plane.h"

#include <cstddef>
#include <cstdint>
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
