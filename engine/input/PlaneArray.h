#pragma once
// Planes held in memory by a caller (a numpy array, a camera's buffers), read where
// they lie: any strides, 8-bit plane values or 16-bit samples.

#include "image/Plane.h"

#include <cstddef>
#include <cstdint>
#include <vector>

/// Count planes of Height × Width values, each of BytesPerValue bytes (1: plane
/// values; 2: samples in the machine's byte order, whose largest value is MaxValue),
/// value (plane, row, column) at Data + plane·PlaneStride + row·RowStride +
/// column·ColumnStride bytes. The memory belongs to the caller and must stay
/// unchanged while it is read.
struct TPlaneArray {
    const std::uint8_t* Data = nullptr;
    std::int32_t Count = 0;
    std::int32_t Height = 0;
    std::int32_t Width = 0;
    int BytesPerValue = 1;
    std::int64_t PlaneStride = 0;
    std::int64_t RowStride = 0;
    std::int64_t ColumnStride = 0;
    /// 16-bit samples: the largest value, 2^bits − 1 (SampleToPlane); 255 for bytes.
    std::uint32_t MaxValue = 255;

    /// Raises std::invalid_argument unless the array is one that can be read: a
    /// count of 1 … kMaxPlanes, a size that IsPictureSize allows, 1 or 2 bytes a value,
    /// data for a non-empty array, a MaxValue of 1 … 65535 (255 for bytes). Then makes
    /// the tables that turn 16-bit samples into values; call it before reading.
    void Prepare();

    /// Whether plane values are read without a copy: bytes, a row's values next to
    /// each other.
    bool RowsInPlace() const { return BytesPerValue == 1 && (ColumnStride == 1 || Width <= 1); }

    /// The values of a row where RowsInPlace; else nullptr.
    const std::uint8_t* RowInPlace(std::int32_t plane, std::int32_t row) const {
        return RowsInPlace() ? At(plane, row, 0) : nullptr;
    }

    /// The plane values of a row into out (Width bytes): 16-bit samples through
    /// SampleToPlane.
    void ReadRow(std::int32_t plane, std::int32_t row, std::uint8_t* out) const;

    /// The row as plane values: where it lies when RowsInPlace, else read into
    /// buffer (Width bytes).
    const std::uint8_t* Row(std::int32_t plane, std::int32_t row, std::uint8_t* buffer) const {
        if (const std::uint8_t* values = RowInPlace(plane, row))
            return values;
        ReadRow(plane, row, buffer);
        return buffer;
    }

    /// The full-depth values of a row of 16-bit samples into out (SampleToDeep).
    void ReadDeepRow(std::int32_t plane, std::int32_t row, std::uint16_t* out) const;

    /// Plane index as a plane of its own (its values copied), on threads (0: all
    /// cores).
    void CopyPlane(std::int32_t plane, TPic& out, int threads) const;
    /// The same at full depth, for 16-bit samples.
    void CopyDeepPlane(std::int32_t plane, TDeepPic& out, int threads) const;

private:
    const std::uint8_t* At(std::int32_t plane, std::int32_t row, std::int32_t column) const {
        return Data + plane * PlaneStride + row * RowStride + column * ColumnStride;
    }
    // The 16-bit sample at (plane, row, column).
    std::uint16_t Sample(std::int32_t plane, std::int32_t row, std::int32_t column) const;

    std::vector<std::uint8_t> toPlane_; // SampleToPlane of every 16-bit sample
    std::vector<std::uint16_t> toDeep_; // SampleToDeep likewise
};
