#include "Memory.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
// Below this, calloc serves: its blocks come from the heap or a mapping of its own.
// From here on a huge page, even partly used, costs one fault instead of hundreds.
constexpr std::size_t kMappedFrom = std::size_t(1) << 20;

std::size_t MappedSize(std::size_t size) {
    return (size + kHugePage - 1) & ~(kHugePage - 1);
}

} // namespace

void* AllocateZeroed(std::size_t size) {
    if (size == 0)
        return nullptr;
    if (size < kMappedFrom) {
        void* block = std::calloc(size, 1);
        if (!block)
            throw std::bad_alloc();
        return block;
    }
    // Map one huge page more than needed and cut the ends off, so that the block
    // starts on a huge-page boundary.
    const std::size_t mapped = MappedSize(size);
    if (mapped < size || mapped + kHugePage < mapped)
        throw std::bad_alloc();
    void* raw = ::mmap(nullptr, mapped + kHugePage, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t(kHugePage - 1);
    if (aligned > start)
        ::munmap(raw, aligned - start);
    const std::size_t tail = (start + mapped + kHugePage) - (aligned + mapped);
    if (tail > 0)
        ::munmap(reinterpret_cast<void*>(aligned + mapped), tail);
    void* block = reinterpret_cast<void*>(aligned);
    ::madvise(block, mapped, MADV_HUGEPAGE); // a hint; without it the block still works
    return block;
}

void FreeZeroed(void* block, std::size_t size) noexcept {
    if (!block)
        return;
    if (size < kMappedFrom)
        std::free(block);
    else
        ::munmap(block, MappedSize(size));
}
