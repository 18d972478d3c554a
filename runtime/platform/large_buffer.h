#pragma once
// Sizing of large pixel buffers. A window-sized picture is 33 MB at 4K, and
// such a buffer is written in full right after it is allocated: with 4 KiB
// pages that costs one page fault per 4 KiB, a large share of the time spent
// on it. Where the system offers transparent huge pages on request, the buffer
// asks for them before its first touch (one fault per 2 MiB). Only a hint:
// the contents are the same either way, and a refusal changes nothing.
#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace plat {

// Buffers from this size on ask for huge pages.
constexpr size_t LARGE_BUFFER_BYTES = size_t(4) << 20;

// v.resize(count), with huge pages asked for when the buffer is new and large.
template <typename T>
void ResizeLarge(std::vector<T>& v, size_t count) {
    if (count > v.capacity() && count >= LARGE_BUFFER_BYTES / sizeof(T)) {
        v.reserve(count);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        const uintptr_t huge = uintptr_t(2) << 20;
        const uintptr_t begin = (reinterpret_cast<uintptr_t>(v.data()) + huge - 1) & ~(huge - 1);
        const uintptr_t end = reinterpret_cast<uintptr_t>(v.data() + count) & ~(huge - 1);
        if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
    }
    v.resize(count);
}

} // namespace plat
