#include <sys/mman.h>

#include <cstdint>

#include "platform/memory.h"

namespace qorvex::platform {

void *TakeRegion() {
    // Twice the size is mapped so that an aligned region lies inside; the rest is given back at once.
    void *mapped = mmap(nullptr, 2 * kRegionBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (start + kRegionBytes - 1) & ~uintptr_t(kRegionBytes - 1);
    if (aligned > start) munmap(mapped, aligned - start);
    if (const uintptr_t tail = start + 2 * kRegionBytes - (aligned + kRegionBytes); tail > 0)
        munmap(reinterpret_cast<void *>(aligned + kRegionBytes), tail);
    void *region = reinterpret_cast<void *>(aligned);
#ifdef MADV_HUGEPAGE
    (void)madvise(region, kRegionBytes, MADV_HUGEPAGE);  // a hint: without it the region works the same
#endif
    return region;
}

void GiveRegion(void *region) {
    if (region) munmap(region, kRegionBytes);
}

}  // namespace qorvex::platform
