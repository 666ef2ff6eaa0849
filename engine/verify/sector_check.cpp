#include "verify/sector_check.h"

#include <algorithm>
#include <cstring>

#include "image/raw_sector.h"
#include "image/sector_format.h"
#include "qorvex_ext.h"
#include "verify/sector_ecc.h"

namespace qorvex {

namespace {

using raw_sector::kAddress;
using raw_sector::kMode;
using raw_sector::kSyncSize;

constexpr uint8_t kSync[kSyncSize] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr size_t kRawSize = 2352;
constexpr size_t kEccFrom = 12;  // P/Q parity covers the header on
// ECMA-130 14.3: Mode 1 EDC over bytes 0-2063, stored at 2064.
constexpr size_t kMode1Edc = 2064;
// Mode 2 sectors from the subheader on (raw byte 16, or byte 0 of a 2336-byte sector): Form 1 EDC over the
// subheader and data, stored at 2056; Form 2 EDC over all but its own four bytes, stored at 2332.
constexpr size_t kXaFrom = 16;
constexpr size_t kForm1Edc = 2056;
constexpr size_t kForm2Edc = 2332;
constexpr size_t kXaSize = 2336;
constexpr uint8_t kSubmodeForm2 = raw_sector::kSubmodeForm2;

uint32_t Le32(const uint8_t *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

bool EdcHolds(const uint8_t *from, size_t n) {
    return ComputeEdc(from, n) == Le32(from + n);
}

// A header address of BCD minutes, seconds and frames naming logical sector lba (+ 150).
bool AddressIs(const uint8_t *msf, int32_t lba) {
    for (int i = 0; i < 3; ++i)
        if ((msf[i] >> 4) > 9 || (msf[i] & 0x0F) > 9) return false;
    const auto bcd = [](uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); };
    const int64_t at = int64_t(bcd(msf[0])) * 60 * raw_sector::kFramesPerSecond +
                       int64_t(bcd(msf[1])) * raw_sector::kFramesPerSecond + bcd(msf[2]);
    return bcd(msf[1]) < 60 && bcd(msf[2]) < raw_sector::kFramesPerSecond &&
           at == int64_t(lba) + raw_sector::kAddressOffset;
}

// Sync, address and mode byte of a raw sector.
uint32_t CheckHeader(const uint8_t *s, int32_t lba, uint8_t mode) {
    uint32_t status = 0;
    if (std::memcmp(s, kSync, kSyncSize) != 0) status |= QORVEX_EX_SECTOR_SYNC;
    if (!AddressIs(s + kAddress, lba)) status |= QORVEX_EX_SECTOR_ADDRESS;
    if (s[kMode] != mode) status |= QORVEX_EX_SECTOR_MODE;
    return status;
}

// A Mode 0 sector inside a data track (a blank gap sector): mode 0 and nothing but zeros after the header.
bool IsBlank(const uint8_t *s) {
    return s[kMode] == 0 && std::all_of(s + kXaFrom, s + kRawSize, [](uint8_t b) { return b == 0; });
}

uint32_t CheckMode1(uint8_t *s, int32_t lba, bool repair) {
    uint32_t status = CheckHeader(s, lba, 1);
    if (!EdcHolds(s, kMode1Edc)) status |= QORVEX_EX_SECTOR_EDC;
    ecc::Block block;
    std::memcpy(block.bytes, s + kEccFrom, ecc::kCovered);
    if (!ecc::Holds(block)) status |= QORVEX_EX_SECTOR_ECC;
    if (status == 0) return 0;
    // The header is coded: parity may mend the address and mode too; the sync pattern is a constant.
    if ((status & QORVEX_EX_SECTOR_ECC) && !ecc::Correct(block, true)) return status;
    const uint8_t *header = block.bytes;
    const uint32_t edc = ContinueEdc(ComputeEdc(kSync, kSyncSize), block.bytes, kMode1Edc - kEccFrom);
    if (edc != Le32(block.bytes + kMode1Edc - kEccFrom) || !AddressIs(header, lba) || header[3] != 1) return status;
    status |= QORVEX_EX_SECTOR_CORRECTABLE;
    if (repair) {
        std::memcpy(s, kSync, kSyncSize);
        std::memcpy(s + kEccFrom, block.bytes, ecc::kCovered);
        status |= QORVEX_EX_SECTOR_CORRECTED;
    }
    return status;
}

// The part of a Mode 2 sector from its subheader on (2336 bytes); `header` false for a sector stored without
// sync and header. Only Form 1 is coded, its header as zeros: parity cannot mend the header, but it can mend
// the subheader, so a sector whose two subheader copies differ is read as Form 1.
uint32_t CheckXa(uint8_t *s, bool header, int32_t lba, bool repair) {
    uint32_t status = header ? CheckHeader(s, lba, 2) : 0;
    uint8_t *xa = header ? s + kXaFrom : s;
    const bool copies_differ = std::memcmp(xa, xa + 4, 4) != 0;
    if (!copies_differ && (xa[2] & kSubmodeForm2)) {
        status |= QORVEX_EX_SECTOR_FORM2;
        if (Le32(xa + kForm2Edc) == 0)
            status |= QORVEX_EX_SECTOR_NO_EDC;
        else if (!EdcHolds(xa, kForm2Edc))
            status |= QORVEX_EX_SECTOR_EDC;
        if ((status & QORVEX_EX_SECTOR_FAULTS) != QORVEX_EX_SECTOR_SYNC) return status;
    } else {
        if (copies_differ) status |= QORVEX_EX_SECTOR_MODE;
        if (!EdcHolds(xa, kForm1Edc)) status |= QORVEX_EX_SECTOR_EDC;
        ecc::Block block;
        std::memset(block.bytes, 0, 4);
        std::memcpy(block.bytes + 4, xa, kXaSize);
        if (!ecc::Holds(block)) status |= QORVEX_EX_SECTOR_ECC;
        if (status == 0) return 0;
        if (status & QORVEX_EX_SECTOR_ADDRESS) return status;
        if (header && s[kMode] != 2) return status;
        if ((status & QORVEX_EX_SECTOR_ECC) && !ecc::Correct(block, false)) return status;
        const uint8_t *mended = block.bytes + 4;
        if (!EdcHolds(mended, kForm1Edc) || std::memcmp(mended, mended + 4, 4) != 0) return status;
        if (repair) std::memcpy(xa, mended, kXaSize);
    }
    status |= QORVEX_EX_SECTOR_CORRECTABLE;
    if (repair) {
        if (header) std::memcpy(s, kSync, kSyncSize);
        status |= QORVEX_EX_SECTOR_CORRECTED;
    }
    return status;
}

// CRC-16 of ITU-T V.41 (x^16 + x^12 + x^5 + 1), initial value 0.
uint16_t Crc16(const uint8_t *data, size_t n) {
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

bool QHolds(const uint8_t *q) {
    const uint16_t stored = static_cast<uint16_t>((q[10] << 8) | q[11]);
    return static_cast<uint16_t>(~Crc16(q, 10)) == stored;
}

}  // namespace

RawLayout GetRawLayout(int32_t format) {
    const SectorFormat &f = GetSectorFormat(format);
    RawLayout layout;
    layout.stored = f.stored;
    layout.subchannel = f.stored == kMaxStoredSize;
    if (f.stored >= static_cast<int32_t>(kRawSize) && f.data) {
        if (f.disc_kind == 1) layout.kind = RawLayout::Kind::kMode1;
        if (f.disc_kind == 2) layout.kind = RawLayout::Kind::kMode2;
        if (format == kFormatMode0) layout.kind = RawLayout::Kind::kMode0;
    } else if (f.stored == static_cast<int32_t>(kXaSize) && f.disc_kind == 2) {
        layout.kind = RawLayout::Kind::kMode2Bare;
    }
    return layout;
}

uint32_t CheckRawSector(const RawLayout &layout, uint8_t *sector, int32_t lba, bool repair) {
    uint32_t status = 0;
    switch (layout.kind) {
        case RawLayout::Kind::kNone: status = QORVEX_EX_SECTOR_UNCHECKED; break;
        case RawLayout::Kind::kMode0: status = CheckHeader(sector, lba, 0); break;
        case RawLayout::Kind::kMode1:
            status = IsBlank(sector) ? CheckHeader(sector, lba, 0) : CheckMode1(sector, lba, repair);
            break;
        case RawLayout::Kind::kMode2:
            status = IsBlank(sector) ? CheckHeader(sector, lba, 0) : CheckXa(sector, true, lba, repair);
            break;
        case RawLayout::Kind::kMode2Bare: status = CheckXa(sector, false, lba, repair); break;
    }
    if (layout.subchannel && !SubchannelQHolds(sector + kRawSize)) status |= QORVEX_EX_SECTOR_SUBCHANNEL;
    return status;
}

bool SubchannelQHolds(const uint8_t *subchannel) {
    if (QHolds(subchannel + 12)) return true;  // by channel: P in bytes 0-11, Q in 12-23
    uint8_t q[12] = {};
    for (int i = 0; i < 96; ++i) q[i / 8] |= static_cast<uint8_t>(((subchannel[i] >> 6) & 1) << (7 - i % 8));
    return QHolds(q);
}

}  // namespace qorvex
