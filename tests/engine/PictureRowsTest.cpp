// Samples of any depth as plane values: the rounding rule at every step and at
// its edges.

#include "input/PictureRows.h"

#include <cstdint>
#include <gtest/gtest.h>

TEST(SampleToPlane, RoundsToNearestWithHalvesUpAtEveryStep) {
    for (std::uint32_t m : {1u, 3u, 15u, 255u, 1000u, 1023u, 4095u, 65535u}) {
        EXPECT_EQ(SampleToPlane(0, m), 0) << m;
        EXPECT_EQ(SampleToPlane(m, m), 255) << m;
        EXPECT_EQ(SampleToPlane(m + 1, m), 255) << "beyond the largest value, M " << m;
        EXPECT_EQ(SampleToDeep(0, m), 0) << m;
        EXPECT_EQ(SampleToDeep(m, m), 65535) << m;
        EXPECT_EQ(SampleToDeep(m + 1, m), 65535) << m;
        // Every value lies within half a step of v·255/M, an exact half rounded up:
        // 2M·out − 510·v lies in (−M, M].
        for (std::uint32_t v = 0; v <= m; ++v) {
            const std::int64_t twice =
                2 * std::int64_t(m) * SampleToPlane(v, m) - 510 * std::int64_t(v);
            ASSERT_TRUE(twice > -std::int64_t(m) && twice <= std::int64_t(m)) << v << " of " << m;
            const std::int64_t deep =
                2 * std::int64_t(m) * SampleToDeep(v, m) - 131070 * std::int64_t(v);
            ASSERT_TRUE(deep > -std::int64_t(m) && deep <= std::int64_t(m)) << v << " of " << m;
        }
    }
    EXPECT_EQ(SampleToPlane(100, 1000), 26) << "25.5 rounds up";
    EXPECT_EQ(SampleToPlane(1, 2), 128) << "127.5 rounds up";
    EXPECT_EQ(SampleToPlane(8, 4095), 0) << "0.498";
    EXPECT_EQ(SampleToPlane(9, 4095), 1) << "0.560";
    EXPECT_EQ(SampleToPlane(128, 257), 127) << "127.004";
    for (std::uint32_t v = 0; v <= 255; ++v) {
        ASSERT_EQ(SampleToPlane(v, 255), v) << "8-bit samples stay as they are";
        ASSERT_EQ(SampleToDeep(v, 255), 257 * v);
        ASSERT_EQ(SampleToPlane(257 * v, 65535), v) << "16-bit samples of 8-bit values";
        if (v < 255) { // the last 16-bit sample of each 8-bit step, and the first of the next
            ASSERT_EQ(SampleToPlane(257 * v + 128, 65535), v) << v;
            ASSERT_EQ(SampleToPlane(257 * v + 129, 65535), v + 1) << v;
        }
    }
}
