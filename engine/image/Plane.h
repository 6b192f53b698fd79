#pragma once
// One plane of the stack: 8-bit values taken from a photograph, and single-value
// access.

#include "base/Grid.h"
#include "base/Limits.h"

#include <cstdint>

/// A plane's values: Height rows of Width bytes, indexed [row][column].
using TPole = TGrid<std::uint8_t>;

/// One plane of the stack. A new plane is 0 × 0.
class TPic {
public:
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    TPole Data; ///< Data[row][column], row 0 at the top

    /// Sets Width and Height and gives Data that size, every byte 0. Raises
    /// std::invalid_argument for a negative size or more than kMaxPlanePixels.
    void SetSize(std::int32_t width, std::int32_t height);
};

/// Values at the full depth of a photograph with more samples than 8 bits hold: a
/// sample v of a picture whose samples' largest value is M becomes v·65535/M,
/// rounded (SampleToDeep). The point table weighs its light in these units.
using TDeepPole = TGrid<std::uint16_t>;

/// A plane at its photograph's full depth, beside the 8-bit plane of the same
/// picture. A new one is 0 × 0.
class TDeepPic {
public:
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    /// The largest sample value M of the photograph the values came from (255 for
    /// an 8-bit one): one step of its samples is 65535 / M here.
    std::uint32_t SourceMax = 255;
    TDeepPole Data; ///< Data[row][column], row 0 at the top

    /// As TPic::SetSize, two bytes a value.
    void SetSize(std::int32_t width, std::int32_t height);
};

/// Stores value at (row, column) when 0 ≤ row < Height and 0 ≤ column < Width;
/// otherwise stores nothing and returns false.
bool SetPlaneValue(TPic& plane, std::int32_t row, std::int32_t column, std::uint8_t value);

/// Reads (row, column) into value when inside the plane; otherwise returns false
/// and leaves value as it was.
bool GetPlaneValue(const TPic& plane, std::int32_t row, std::int32_t column, std::uint8_t& value);
