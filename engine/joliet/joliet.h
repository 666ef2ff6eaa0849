// Joliet: recognition of the supplementary descriptor and UCS-2 names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qorvex::joliet {

// A supplementary descriptor is Joliet when its escape sequences announce UCS-2 level 1, 2 or 3.
bool IsJolietDescriptor(const uint8_t *descriptor);
// Converts a big-endian UCS-2 identifier of n bytes to the system code page, up to its first NUL unit.
std::string ConvertName(const uint8_t *identifier, size_t n);

}  // namespace qorvex::joliet
