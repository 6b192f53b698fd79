#pragma once
// Zero-filled memory for the large arrays of the engine (planes, code matrices,
// bitmaps).

#include <cstddef>

/// size bytes, all 0. Large blocks are mapped straight from the system, so that
/// they need no clearing and pages that are never written cost no memory at all.
/// They are not marked for huge pages: right after other programs ran, the system
/// must first gather each huge page, which cost more than the faults it saves, and
/// a huge page is paid for whole where only some rows of a block are written.
/// Raises EOutOfMemory (a std::bad_alloc) when the memory cannot be had. A size of
/// 0 gives nullptr.
void* AllocateZeroed(std::size_t size);

/// Gives back a block from AllocateZeroed; size must be the size it was asked with.
void FreeZeroed(void* block, std::size_t size) noexcept;

#include <cstdint>

/// How much more memory the process may take, as far as the system tells.
struct TMemoryBudget {
    /// Memory the system can still give (its available memory, or what is left
    /// under the process's control-group limit, whichever is less).
    std::uint64_t Physical = UINT64_MAX;
    /// Address space left under the process's limit on it (RLIMIT_AS).
    std::uint64_t Address = UINT64_MAX;

    /// The lesser of the two: what a block that is written whole may take.
    std::uint64_t Usable() const { return Physical < Address ? Physical : Address; }
};

/// Reads the budget now; a figure the system does not give stays UINT64_MAX.
TMemoryBudget MemoryBudget();
