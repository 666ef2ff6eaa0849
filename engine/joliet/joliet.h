// Joliet: recognition of the supplementary descriptor and UCS-2 names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "model/byte_view.h"

namespace qorvex::joliet {

// A supplementary descriptor (ECMA-119 8.5) is Joliet when its escape sequences (BP 89-91) announce UCS-2
// level 1, 2 or 3.
bool IsJolietDescriptor(ByteView descriptor);
// Converts a big-endian UCS-2 identifier to the system code page, up to its first NUL unit. At most 512
// bytes are converted (the longest name a directory record can hold, with room to spare).
std::string ConvertName(ByteView identifier);
void AppendName(ByteView identifier, std::string &out);

}  // namespace qorvex::joliet
