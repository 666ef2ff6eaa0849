// Memory taken from the system in large regions, for the pools the catalogues of open images draw from.
#pragma once

#include <cstddef>

namespace qorvex::platform {

// The size and alignment of a region: the size of a large page where the system has them.
constexpr size_t kRegionBytes = size_t(2) << 20;

// A region of kRegionBytes, aligned to its size and backed by a large page where the system offers one on
// request (one fault then maps the whole region instead of one per small page); null when refused. Its
// memory reads as zeros until written.
void *TakeRegion();
void GiveRegion(void *region);

}  // namespace qorvex::platform
