#pragma once
// The layout of a plane file, for the picture-set files of engine/input: byte k of
// the file is row k % Height of column k / Height. Bytes move between that order
// and a plane's rows in chunks of whole columns.

#include "files/FileUtil.h"
#include "image/Plane.h"

#include <cstddef>
#include <cstdint>

namespace picset_detail {

/// The number of bytes the plane's Width and Height call for. Raises
/// std::invalid_argument when they do not match the plane's data (a plane whose
/// fields were changed by hand), since reading or writing would leave its memory.
std::size_t CheckedPlaneBytes(const TPic& plane);

/// The bytes of a chunk for planes of this height: about 512 KiB of whole columns,
/// at least 64 of them while that stays within 2 MiB, so that every row of the
/// plane takes whole cache lines at a time; a piece of a column where a single
/// column is larger than 512 KiB.
std::size_t ChunkBytes(std::int32_t height);

/// Stores count bytes of a plane file, the first being byte `first`, into the plane.
void StoreColumnBytes(TPic& plane, std::size_t first, const std::uint8_t* data, std::size_t count);

/// Sets every byte of the plane from byte `first` of the file's order on to 0.
void ClearColumnBytesFrom(TPic& plane, std::size_t first);

/// Writes the plane's bytes column by column; the plane's size has been checked.
void WritePlane(const TPic& plane, TAtomicFile& file);

} // namespace picset_detail
