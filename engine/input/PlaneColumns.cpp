// Plane files: a plane's bytes in the order of its file, column by column, and back.

#include "input/PlaneColumns.h"

#include "base/Text.h"
#include "base/Transpose.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

// Plane bytes move between a file and a plane in chunks of about kChunkBytes of
// whole columns; at least kChunkColumns of them while that stays within
// kMaxChunkBytes, so that every row of the plane takes whole cache lines at a
// time; a piece of a column where a single column is larger than kChunkBytes.
constexpr std::size_t kChunkBytes = std::size_t(512) << 10;
constexpr std::size_t kMaxChunkBytes = std::size_t(2) << 20;
constexpr std::size_t kChunkColumns = 64;

// Plane bytes go to disk in pieces of about this size. Saving waits on the disk,
// not on turning the bytes around, so one thread does it.
constexpr std::size_t kWriteChunkBytes = std::size_t(1) << 20;

// The reverse of StoreColumnBytes: takes count bytes of the plane, in the file's
// order from byte `first` on, into data.
void FetchColumnBytes(const TPic& plane, std::size_t first, std::uint8_t* data, std::size_t count) {
    if (count == 0)
        return;
    const auto width = std::size_t(plane.Width);
    const auto height = std::size_t(plane.Height);
    const std::uint8_t* const rows = plane.Data.data();
    std::size_t column = first / height;
    if (const std::size_t row = first % height; row != 0) {
        const std::size_t rest = std::min(count, height - row);
        for (std::size_t i = 0; i < rest; ++i)
            data[i] = rows[(row + i) * width + column];
        data += rest;
        count -= rest;
        ++column;
    }
    const std::size_t columns = count / height;
    TransposeBytes(rows + column, width, height, columns, data, height);
    data += columns * height;
    count -= columns * height;
    column += columns;
    for (std::size_t i = 0; i < count; ++i)
        data[i] = rows[i * width + column];
}

} // namespace

namespace picset_detail {

std::size_t CheckedPlaneBytes(const TPic& plane) {
    if (plane.Width >= 0 && plane.Height >= 0) {
        std::size_t bytes = std::size_t(plane.Width) * std::size_t(plane.Height);
        if (bytes == plane.Data.size())
            return bytes;
    }
    throw std::invalid_argument("a plane of " + SizeText(plane.Width, plane.Height) +
                                " pixels holds " + std::to_string(plane.Data.size()) +
                                " bytes of data");
}

std::size_t ChunkBytes(std::int32_t height) {
    const std::size_t columnBytes = std::max<std::size_t>(1, std::size_t(height));
    std::size_t columns = kChunkBytes / columnBytes;
    if (columns >= kChunkColumns)
        columns -= columns % kChunkColumns;
    else if (columnBytes * kChunkColumns <= kMaxChunkBytes)
        columns = kChunkColumns;
    return columns == 0 ? kChunkBytes : columns * columnBytes;
}

void StoreColumnBytes(TPic& plane, std::size_t first, const std::uint8_t* data, std::size_t count) {
    if (count == 0)
        return;
    const auto width = std::size_t(plane.Width);
    const auto height = std::size_t(plane.Height);
    std::uint8_t* const rows = plane.Data.data();
    std::size_t column = first / height;
    // The rest of a column begun by the bytes before.
    if (const std::size_t row = first % height; row != 0) {
        const std::size_t rest = std::min(count, height - row);
        for (std::size_t i = 0; i < rest; ++i)
            rows[(row + i) * width + column] = data[i];
        data += rest;
        count -= rest;
        ++column;
    }
    const std::size_t columns = count / height;
    TransposeBytes(data, height, columns, height, rows + column, width);
    data += columns * height;
    count -= columns * height;
    column += columns;
    // The start of a column that the bytes after go on with.
    for (std::size_t i = 0; i < count; ++i)
        rows[i * width + column] = data[i];
}

void ClearColumnBytesFrom(TPic& plane, std::size_t first) {
    if (plane.Width == 0 || plane.Height == 0)
        return;
    const auto width = std::size_t(plane.Width);
    const auto height = std::size_t(plane.Height);
    const std::size_t column = first / height;
    const std::size_t row = first % height;
    for (std::size_t r = 0; r < height; ++r) {
        const std::size_t from = column + (r < row ? 1 : 0);
        if (from < width)
            std::memset(plane.Data[std::int32_t(r)] + from, 0, width - from);
    }
}

void WritePlane(const TPic& plane, TAtomicFile& file) {
    const std::size_t bytes = std::size_t(plane.Width) * std::size_t(plane.Height);
    if (bytes == 0)
        return;
    // Whole columns at a time where a column is not larger than a piece.
    const std::size_t height = std::size_t(plane.Height);
    const std::size_t piece =
        height >= kWriteChunkBytes ? kWriteChunkBytes : kWriteChunkBytes / height * height;
    const std::size_t size = std::min(piece, bytes);
    const auto chunk = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    for (std::size_t first = 0; first < bytes; first += size) {
        const std::size_t count = std::min(size, bytes - first);
        FetchColumnBytes(plane, first, chunk.get(), count);
        file.Write(chunk.get(), count);
    }
}

} // namespace picset_detail
