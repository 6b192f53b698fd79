#pragma once
// Stacks and header lines for the picture-set tests: stacks whose every value is
// known, their values compared plane by plane, the fixed lines of a header.

#include "TestSupport.h"
#include "image/Plane.h"
#include "input/PicSet.h"
#include "input/Pics.h"

#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using TBytes = std::vector<std::uint8_t>;

/// A stack of count planes whose value at (plane, row, column) is valueOf of them.
template <class TValueOf>
TPics StackOf(int count, std::int32_t width, std::int32_t height, TValueOf valueOf) {
    TPics pics;
    pics.SetCount(count, width, height);
    for (int i = 0; i < count; ++i)
        for (std::int32_t r = 0; r < height; ++r)
            for (std::int32_t c = 0; c < width; ++c)
                pics.Planes[std::size_t(i)].Data[r][c] =
                    valueOf(std::size_t(i), std::size_t(r), std::size_t(c));
    return pics;
}

/// A stack whose every value tells its plane, row and column apart.
inline TPics MakeStack(int count, std::int32_t width, std::int32_t height) {
    return StackOf(count, width, height, [](std::size_t i, std::size_t r, std::size_t c) {
        return static_cast<std::uint8_t>(i * 31 + r * 7 + c * 3 + 1);
    });
}

/// A plane's values, row after row.
inline TBytes Values(const TPic& plane) {
    return {plane.Data.data(), plane.Data.data() + plane.Data.size()};
}

inline void ExpectSameStack(const TPics& expected, const TPics& actual) {
    ASSERT_EQ(expected.Count(), actual.Count());
    for (std::size_t i = 0; i < expected.Planes.size(); ++i) {
        EXPECT_EQ(expected.Planes[i].Width, actual.Planes[i].Width) << "plane " << i;
        EXPECT_EQ(expected.Planes[i].Height, actual.Planes[i].Height) << "plane " << i;
        EXPECT_EQ(Values(expected.Planes[i]), Values(actual.Planes[i])) << "plane " << i;
    }
}

#define EXPECT_MENTIONS(text, part)                                                                \
    EXPECT_NE(std::string(text).find(part), std::string::npos) << (text)

/// The title and the rule of a header as SavePicSet writes them, each with its CR LF.
inline const std::string kHead =
    "Kelvaron bin file : 0, 1, points, 14x code pics (width, height)\r\n";
inline const std::string kRule =
    "---------------------------------------------------------------\r\n";

/// A folder holding a set of 3 planes of 3 × 2, and a stack to load it into.
class PicSetLoad : public testing::Test {
protected:
    void SetUp() override { SavePicSet(MakeStack(3, 3, 2), dir / "set.bbf", false); }
    std::string Names() const {
        return dir / "0_set.bin" + "\r\n" + dir / "1_set.bin" + "\r\n" + dir / "2_set.bin";
    }
    TTempDir dir;
    TPics pics = MakeStack(2, 2, 1);
};
