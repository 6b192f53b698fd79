#pragma once
// Zero-filled memory for the large arrays of the engine (planes, code matrices,
// bitmaps).

#include <cstddef>

/// size bytes, all 0. Large blocks are mapped straight from the system, aligned
/// for huge pages and marked for them: a picture of many megabytes then costs a
/// few page faults instead of thousands, and pages that are never written cost no
/// memory at all. Raises std::bad_alloc when the memory cannot be had. A size of 0
/// gives nullptr.
void* AllocateZeroed(std::size_t size);

/// Gives back a block from AllocateZeroed; size must be the size it was asked with.
void FreeZeroed(void* block, std::size_t size) noexcept;
