// The checks of one stored sector (sync, header, mode, EDC, P/Q parity, subchannel Q) and its repair.
#pragma once

#include <cstdint>

namespace qorvex {

// What a track's stored sectors carry that can be checked, by sector format.
struct RawLayout {
    enum class Kind : uint8_t { kNone, kMode0, kMode1, kMode2, kMode2Bare } kind = Kind::kNone;
    int32_t stored = 2048;
    bool subchannel = false;  // 96 subchannel bytes follow the 2352
};

RawLayout GetRawLayout(int32_t format);

// The QORVEX_EX_SECTOR_* bits of one stored sector of logical sector `lba`. With `repair`, a sector whose
// faults P/Q parity (and the fixed sync pattern) correct is corrected in place.
uint32_t CheckRawSector(const RawLayout &layout, uint8_t *sector, int32_t lba, bool repair);

// The CRC-16 of subchannel Q (x^16 + x^12 + x^5 + 1 over its first 80 bits, stored inverted): whether the 96
// subchannel bytes hold a valid Q, interleaved (bit 6 of each byte) or by channel (Q in bytes 12-23).
bool SubchannelQHolds(const uint8_t *subchannel);

}  // namespace qorvex
