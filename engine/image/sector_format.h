// The table of stored sector formats and the CD-ROM EDC.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model/kinds.h"

namespace qorvex {

enum class EdcCheck : uint8_t { kNone, kMode1, kForm1, kForm1In2336 };

struct SectorFormat {
    const char *name;
    int32_t stored;       // bytes per sector in the file
    int32_t user_offset;  // where a read's user data starts in the stored sector
    int32_t user_size;    // bytes of user data a read delivers
    int32_t raw_output;   // bytes per sector written by a raw track extraction
    bool data;            // a data track
    uint8_t disc_kind;    // 1 Mode 1, 2 Mode 2, 0 other
    EdcCheck edc;
};

constexpr int32_t kMaxStoredSize = 2448;
// The subchannel bytes (P-W) a 2448-byte sector holds after its 2352.
constexpr int32_t kSubchannelSize = 96;

// Any code outside the table is answered with the entry of kFormatUnknown.
const SectorFormat &GetSectorFormat(int32_t code);

// The 32-bit CD-ROM EDC of ECMA-130 over n bytes (initial value 0, no final inversion).
uint32_t ComputeEdc(const uint8_t *data, size_t n);
// The same going on from the EDC of the bytes before (`edc`), for a message held in pieces.
uint32_t ContinueEdc(uint32_t edc, const uint8_t *data, size_t n);
// The same through the tables only (what ComputeEdc does where the processor cannot fold), for comparison.
uint32_t ComputeEdcByTables(const uint8_t *data, size_t n);
// Applies the format's EDC check to one stored sector; true when it passes or needs no check.
bool CheckSectorEdc(EdcCheck check, const uint8_t *sector);
// The same for a sector held in three pieces, as a scattered read leaves it: its first `head_size` bytes at
// head, the next `user_size` at user, the rest at tail.
bool CheckSectorEdcInPieces(EdcCheck check, const uint8_t *head, int32_t head_size, const uint8_t *user,
                            int32_t user_size, const uint8_t *tail);

}  // namespace qorvex
