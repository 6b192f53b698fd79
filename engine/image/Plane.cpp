#include "image/Plane.h"

#include "base/Errors.h"
#include "base/Text.h"

#include <new>
#include <stdexcept>

namespace {

// Gives a plane's values width × height entries, all 0.
template <class T>
void SizeValues(TGrid<T>& data, std::int32_t width, std::int32_t height, const char* what) {
    if (!IsPictureSize(width, height))
        throw std::invalid_argument("a plane of " + SizeText(width, height) +
                                    " pixels is not possible");
    try {
        data.Resize(height, width);
    } catch (const std::bad_alloc&) {
        RaiseOutOfMemory(what + SizeText(width, height),
                         sizeof(T) * std::uint64_t(width) * std::uint64_t(height));
    }
}

} // namespace

void TPic::SetSize(std::int32_t width, std::int32_t height) {
    SizeValues(Data, width, height, "a picture of ");
    Width = width;
    Height = height;
}

void TDeepPic::SetSize(std::int32_t width, std::int32_t height) {
    SizeValues(Data, width, height, "a full-depth picture of ");
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
