#include "Plane.h"

#include "Errors.h"
#include "Text.h"

#include <new>
#include <stdexcept>

void TPic::SetSize(std::int32_t width, std::int32_t height) {
    if (!IsPictureSize(width, height))
        throw std::invalid_argument("a plane of " + SizeText(width, height) +
                                    " pixels is not possible");
    try {
        Data.Resize(height, width);
    } catch (const std::bad_alloc&) {
        RaiseOutOfMemory("a picture of " + SizeText(width, height),
                         std::uint64_t(width) * std::uint64_t(height));
    }
    Width = width;
    Height = height;
}

bool SetPlaneValue(TPic& plane, std::int32_t row, std::int32_t column, std::uint8_t value) {
    if (row < 0 || row >= plane.Height || column < 0 || column >= plane.Width)
        return false;
    plane.Data[row][column] = value;
    return true;
}

bool GetPlaneValue(const TPic& plane, std::int32_t row, std::int32_t column, std::uint8_t& value) {
    if (row < 0 || row >= plane.Height || column < 0 || column >= plane.Width)
        return false;
    value = plane.Data[row][column];
    return true;
}
