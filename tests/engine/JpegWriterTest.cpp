// The JPEG writer's rows made band by band, as the sample stacks stream their
// photographs.

#include "output/JpegWriter.h"

#include "TestSupport.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

// The stack streams its photographs band by band through EncodeJpegRows.
TEST(JpegRows, SameBytesAsAWholeBufferAndSourceErrorsPassThrough) {
    const int width = 70, height = 45;
    const std::vector<std::uint8_t> pixels = PatternPixels(width, height, 3, 5);
    auto copyRows = [&](int first, int count, std::uint8_t* rows) {
        ASSERT_LE(first + count, height);
        std::copy_n(pixels.data() + std::size_t(first) * width * 3, std::size_t(count) * width * 3,
                    rows);
    };
    EXPECT_EQ(EncodeJpegRows(width, height, 3, copyRows, 7),
              EncodeJpeg(width, height, 3, pixels.data()));

    // Under the sanitizers this also shows that the abandoned encoder frees its memory.
    auto failing = [](int first, int, std::uint8_t*) {
        if (first > 0)
            throw std::length_error("band failed");
    };
    EXPECT_THROW(EncodeJpegRows(width, height, 3, failing, 16), std::length_error);
}
