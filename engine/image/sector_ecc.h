// ECMA-130 Annex A: the P and Q parity bytes (the ECC) of a Mode 1 or Mode 2 Form 1 sector.
#pragma once

#include <cstdint>

namespace qorvex {

// Writes the 172 P bytes (at 0x81C) and the 104 Q bytes (at 0x8C8) of a 2352-byte sector from its header
// and data (bytes 12 to 0x81B). A Mode 2 Form 1 sector's parity is computed with its header taken as zero
// (`zero_header`); the header itself is left as it is.
void WriteSectorEcc(uint8_t *sector, bool zero_header);

}  // namespace qorvex
