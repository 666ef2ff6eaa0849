#include "eltorito/boot_structures.h"

#include <algorithm>

namespace qorvex::eltorito {

bool BootRecord::Is(ByteView bytes) {
    // BP 8-39: the boot system identifier of El Torito (23 upper-case characters, written out below letter by
    // letter), padded with zeros.
    static constexpr char kIdentifier[] = {'E', 'L', ' ', 'T', 'O', 'R', 'I', 'T', 'O', ' ', 'S', 'P',
                                           'E', 'C', 'I', 'F', 'I', 'C', 'A', 'T', 'I', 'O', 'N'};
    constexpr std::string_view kSystem(kIdentifier, sizeof kIdentifier);
    if (bytes.U8(0) != 0 || !bytes.Matches(1, "CD001") || !bytes.Matches(7, kSystem)) return false;
    const ByteView padding = bytes.Sub(7 + kSystem.size(), 32 - kSystem.size());
    for (size_t i = 0; i < padding.Size(); ++i)
        if (padding.U8(i) != 0) return false;
    return padding.Size() == 32 - kSystem.size();
}

BootRecord BootRecord::Parse(ByteView bytes) {
    BootRecord r;
    r.catalogue = bytes.U32le(71);
    return r;
}

ValidationEntry ValidationEntry::Parse(ByteView slot) {
    ValidationEntry v;
    v.header_id = slot.U8(0);
    v.platform = slot.U8(1);
    v.key_ok = slot.U8(30) == 0x55 && slot.U8(31) == 0xAA;
    uint16_t sum = 0;
    for (size_t i = 0; i < kEntrySize; i += 2) sum = static_cast<uint16_t>(sum + slot.U16le(i));
    v.sum_ok = sum == 0 && !slot.Overrun();
    return v;
}

BootEntry BootEntry::Parse(ByteView slot) {
    BootEntry e;
    e.indicator = slot.U8(0);
    e.media = slot.U8(1);
    e.load_segment = slot.U16le(2);
    e.system_type = slot.U8(4);
    e.sector_count = slot.U16le(6);
    e.load_rba = slot.U32le(8);
    return e;
}

SectionHeader SectionHeader::Parse(ByteView slot) {
    SectionHeader h;
    h.indicator = slot.U8(0);
    h.platform = slot.U8(1);
    h.entries = slot.U16le(2);
    return h;
}

uint64_t MbrEnd(ByteView sector) {
    // Four primary partition entries of 16 bytes from byte 446: type at +4, first LBA at +8, count at +12.
    if (sector.U8(510) != 0x55 || sector.U8(511) != 0xAA) return 0;
    uint64_t end = 0;
    for (size_t at = 446; at < 510; at += 16) {
        const uint32_t first = sector.U32le(at + 8), count = sector.U32le(at + 12);
        if (sector.U8(at + 4) == 0 || count == 0) continue;
        end = std::max(end, uint64_t(first) + count);
    }
    return end;
}

uint64_t FatSize(ByteView sector) {
    // BIOS parameter block: bytes per sector (11), sectors per cluster (13), reserved sectors (14), FATs (16),
    // 16-bit total sectors (19), else 32-bit total sectors (32).
    const uint16_t bytes_per_sector = sector.U16le(11);
    const uint8_t per_cluster = sector.U8(13);
    const bool jump = sector.U8(0) == 0xEB || sector.U8(0) == 0xE9;
    if (!jump || sector.U8(510) != 0x55 || sector.U8(511) != 0xAA) return 0;
    if (bytes_per_sector < 512 || bytes_per_sector > 4096 || (bytes_per_sector & (bytes_per_sector - 1)) != 0) return 0;
    if (per_cluster == 0 || (per_cluster & (per_cluster - 1)) != 0 || sector.U16le(14) == 0 || sector.U8(16) == 0)
        return 0;
    const uint32_t total = sector.U16le(19) != 0 ? sector.U16le(19) : sector.U32le(32);
    return uint64_t(total) * bytes_per_sector;
}

}  // namespace qorvex::eltorito
