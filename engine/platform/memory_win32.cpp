#include <windows.h>

#include "platform/memory.h"

namespace qorvex::platform {

// Large pages need a privilege ordinary users lack; a plain reservation serves.
void *TakeRegion() {
    return VirtualAlloc(nullptr, kRegionBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void GiveRegion(void *region) {
    if (region) VirtualFree(region, 0, MEM_RELEASE);
}

}  // namespace qorvex::platform
