#include "input/PlaneArray.h"

#include "base/Limits.h"
#include "base/Parallel.h"
#include "input/PictureRows.h"

#include <cstring>
#include <stdexcept>
#include <string>

void TPlaneArray::Prepare() {
    if (Count < 1 || Count > kMaxPlanes)
        throw std::invalid_argument("an array of " + std::to_string(Count) +
                                    " planes cannot be read; a stack has 1 to " +
                                    std::to_string(kMaxPlanes));
    if (Height < 0 || Width < 0 || !IsPictureSize(Width, Height))
        throw std::invalid_argument("planes of " + std::to_string(Width) + " x " +
                                    std::to_string(Height) + " pixels cannot be held");
    if (BytesPerValue != 1 && BytesPerValue != 2)
        throw std::invalid_argument("values of " + std::to_string(BytesPerValue) +
                                    " bytes cannot be read; they take 1 or 2");
    if (BytesPerValue == 1 && MaxValue != 255)
        throw std::invalid_argument("8-bit values reach 255, not " + std::to_string(MaxValue));
    if (MaxValue < 1 || MaxValue > 65535)
        throw std::invalid_argument("16-bit samples cannot reach " + std::to_string(MaxValue));
    if (Data == nullptr && Height > 0 && Width > 0)
        throw std::invalid_argument("the array has no data");
    if (BytesPerValue == 2) {
        toPlane_.resize(65536);
        toDeep_.resize(65536);
        for (std::uint32_t v = 0; v < 65536; ++v) {
            toPlane_[v] = SampleToPlane(v, MaxValue);
            toDeep_[v] = SampleToDeep(v, MaxValue);
        }
    }
}

std::uint16_t TPlaneArray::Sample(std::int32_t plane, std::int32_t row, std::int32_t column) const {
    std::uint16_t sample;
    std::memcpy(&sample, At(plane, row, column), sizeof sample); // may lie unaligned
    return sample;
}

void TPlaneArray::ReadRow(std::int32_t plane, std::int32_t row, std::uint8_t* out) const {
    if (BytesPerValue == 1) {
        if (ColumnStride == 1) {
            std::memcpy(out, At(plane, row, 0), std::size_t(Width));
            return;
        }
        const std::uint8_t* value = At(plane, row, 0);
        for (std::int32_t column = 0; column < Width; ++column, value += ColumnStride)
            out[column] = *value;
        return;
    }
    for (std::int32_t column = 0; column < Width; ++column)
        out[column] = toPlane_[Sample(plane, row, column)];
}

void TPlaneArray::ReadDeepRow(std::int32_t plane, std::int32_t row, std::uint16_t* out) const {
    for (std::int32_t column = 0; column < Width; ++column)
        out[column] = toDeep_[Sample(plane, row, column)];
}

namespace {

// row(r) for every row of height, in bands over threads (0: all cores).
template <class TRow> void EachRow(std::int32_t height, int threads, const TRow& row) {
    const int bands = ThreadsFor(threads);
    ForEachBand(height, bands, bands, [&](int, std::int32_t begin, std::int32_t end) {
        for (std::int32_t r = begin; r < end; ++r)
            row(r);
    });
}

} // namespace

void TPlaneArray::CopyPlane(std::int32_t plane, TPic& out, int threads) const {
    out.SetSize(Width, Height);
    EachRow(Height, threads, [&](std::int32_t row) { ReadRow(plane, row, out.Data[row]); });
}

void TPlaneArray::CopyDeepPlane(std::int32_t plane, TDeepPic& out, int threads) const {
    out.SetSize(Width, Height);
    out.SourceMax = MaxValue;
    EachRow(Height, threads, [&](std::int32_t row) { ReadDeepRow(plane, row, out.Data[row]); });
}
