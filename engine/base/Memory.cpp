#include "base/Memory.h"

#include "base/Errors.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Below this, calloc serves: its blocks come from the heap or a mapping of its own.
constexpr std::size_t kMappedFrom = std::size_t(1) << 20;

std::size_t MappedSize(std::size_t size) {
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

[[noreturn]] void RaiseNoMemory(std::size_t size) {
    RaiseOutOfMemory("a block of working memory", size);
}

} // namespace

void* AllocateZeroed(std::size_t size) {
    if (size == 0)
        return nullptr;
    if (size < kMappedFrom) {
        void* block = std::calloc(size, 1);
        if (!block)
            RaiseNoMemory(size);
        return block;
    }
    const std::size_t mapped = MappedSize(size);
    if (mapped < size)
        RaiseNoMemory(size);
    void* block =
        ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED)
        RaiseNoMemory(size);
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

// ---------------------------------------------------------------------------

namespace {

// The first number of a small text file, or UINT64_MAX when there is none.
std::uint64_t ReadNumber(const char* fileName) {
    std::FILE* file = std::fopen(fileName, "re");
    if (!file)
        return UINT64_MAX;
    unsigned long long value = 0;
    const bool read = std::fscanf(file, "%llu", &value) == 1;
    std::fclose(file);
    return read ? value : UINT64_MAX;
}

// The value of a "Name: value kB" line of /proc/meminfo, in bytes.
std::uint64_t MemInfoBytes(const char* name) {
    std::FILE* file = std::fopen("/proc/meminfo", "re");
    if (!file)
        return UINT64_MAX;
    char line[256];
    std::uint64_t bytes = UINT64_MAX;
    const std::size_t length = std::strlen(name);
    while (std::fgets(line, sizeof line, file)) {
        unsigned long long kib = 0;
        if (std::strncmp(line, name, length) == 0 && line[length] == ':' &&
            std::sscanf(line + length + 1, "%llu", &kib) == 1) {
            bytes = kib * 1024;
            break;
        }
    }
    std::fclose(file);
    return bytes;
}

// What is left under the control group's memory limit (cgroup v2), if it has one.
std::uint64_t ControlGroupLeft() {
    const std::uint64_t limit = ReadNumber("/sys/fs/cgroup/memory.max"); // "max": none
    const std::uint64_t used = ReadNumber("/sys/fs/cgroup/memory.current");
    if (limit == UINT64_MAX || used == UINT64_MAX)
        return UINT64_MAX;
    return limit > used ? limit - used : 0;
}

} // namespace

TMemoryBudget MemoryBudget() {
    TMemoryBudget budget;
    budget.Physical = std::min(MemInfoBytes("MemAvailable"), ControlGroupLeft());
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        // /proc/self/statm: the address space in use, in pages.
        const std::uint64_t pages = ReadNumber("/proc/self/statm");
        const std::uint64_t used =
            pages == UINT64_MAX ? 0 : pages * std::uint64_t(::sysconf(_SC_PAGESIZE));
        budget.Address = limit.rlim_cur > used ? limit.rlim_cur - used : 0;
    }
    return budget;
}
