// Turns a sequence of 2048-byte user-data sectors into any stored sector format of the engine's table.
//
//   std::vector<uint8_t> iso = BuildIso(...).bytes;           // 2048-byte sectors, sector 0 first
//   std::vector<uint8_t> raw = WrapSectors(iso, 3);            // MODE1/2352
//   RawOptions o; o.pregap = true; o.duplicate_sector = 99;    // 150 blank sectors first, a second copy
//   auto shifted = WrapSectors(iso, 3, o);                     // of sector 99 before sector 100
//
// Every raw sector gets the sync pattern, a BCD header address (sector + 150), the mode byte, the doubled
// XA subheader where the format has one, a correct ECMA-130 EDC, and for 2448-byte formats 96 subchannel
// bytes (0xA5, so a test can see they are dropped). Mode 1 and Form 1 sectors get their ECMA-130 P/Q parity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qorvex::test {

struct RawOptions {
    bool pregap = false;              // prepend 150 blank sectors (logical -150 .. -1) with their own headers
    int32_t duplicate_sector = -1;    // insert a second copy of this sector right after it
    int32_t corrupt_edc_sector = -1;  // flip a bit of this sector's stored EDC
    int32_t form2_sector = -1;        // formats 13 / 6 / 17: mark this sector Form 2 (submode bit 5)
    int64_t tail_adjust = 0;          // < 0 cuts that many bytes off the end, > 0 appends zero bytes
};

// Stored bytes per sector of a format code (2048 for unknown codes).
int32_t StoredSize(int32_t format);
// One stored sector of `format` for logical sector `lba` holding `user` (2048 bytes; null = zeros).
std::vector<uint8_t> MakeSector(int32_t format, int32_t lba, const uint8_t *user, bool form2 = false);
// The whole image: `user` is a multiple of 2048 bytes, sector 0 first.
std::vector<uint8_t> WrapSectors(const std::vector<uint8_t> &user, int32_t format, const RawOptions &options = {});

// ECMA-130 CD-ROM EDC, computed bit by bit (independent of the engine's table).
uint32_t ReferenceEdc(const uint8_t *data, size_t n);
// Writes the P and Q parity of a raw 2352-byte sector (Mode 1; `form1`: Mode 2 Form 1, its header coded as zeros),
// computed codeword by codeword from the parity check matrices of ECMA-130 Annex A.
void PutEcc(uint8_t *sector, bool form1);
// Writes 96 subchannel bytes whose Q channel holds the position of logical sector lba (Mode 1 Q, track 1 index 1)
// and its CRC-16, stored inverted: by channel (Q in bytes 12-23, as CloneCD's .sub) or interleaved (bit 6 of each
// byte, as a drive's raw P-W). The other channels are zero.
void PutSubchannelQ(uint8_t *subchannel, int32_t lba, bool interleaved);
// Writes the header address of a logical sector (sector + 150) as BCD minutes, seconds, frames.
void PutHeaderAddress(uint8_t *header3, int32_t lba);

}  // namespace qorvex::test
