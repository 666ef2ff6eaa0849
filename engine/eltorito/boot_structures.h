// El Torito structures (the bootable CD-ROM format, version 1.0), each parsed once from the bytes read.
#pragma once

#include <cstdint>

#include "model/byte_view.h"

namespace qorvex::eltorito {

constexpr size_t kEntrySize = 32;  // every catalogue slot
constexpr uint32_t kCdSector = 2048;
constexpr uint32_t kVirtualSector = 512;  // the unit of a load size

// 2.0: the boot record volume descriptor (ECMA-119 type 0) that names the catalogue.
struct BootRecord {
    uint32_t catalogue = 0;  // BP 72-75: absolute sector of the boot catalogue

    // True when `bytes` is a boot record whose system identifier (BP 8-39) is El Torito's.
    static bool Is(ByteView bytes);
    static BootRecord Parse(ByteView bytes);
};

// 2.1 platform identifiers.
enum Platform : uint8_t {
    kPlatformX86 = 0x00,
    kPlatformPowerPc = 0x01,
    kPlatformMac = 0x02,
    kPlatformEfi = 0xEF,
};

// 2.2 / 2.5 boot media types (the low nibble of the media byte).
enum Media : uint8_t {
    kNoEmulation = 0,
    kFloppy12 = 1,
    kFloppy144 = 2,
    kFloppy288 = 3,
    kHardDisk = 4,
};

// 2.1: the validation entry that opens the catalogue.
struct ValidationEntry {
    uint8_t header_id = 0;  // BP 1: 1
    uint8_t platform = 0;   // BP 2
    bool key_ok = false;    // BP 31-32: 0x55 0xAA
    bool sum_ok = false;    // the sixteen 16-bit words add up to 0

    static ValidationEntry Parse(ByteView slot);
    bool Valid() const { return header_id == 1 && key_ok && sum_ok; }
};

// 2.2 (initial/default entry) and 2.5 (section entry): where a boot image lies and how it is loaded.
struct BootEntry {
    uint8_t indicator = 0;      // BP 1: 0x88 bootable, 0x00 not bootable
    uint8_t media = 0;          // BP 2: low nibble the media type; 0x20 an extension follows (2.5)
    uint16_t load_segment = 0;  // BP 3-4
    uint8_t system_type = 0;    // BP 5
    uint16_t sector_count = 0;  // BP 7-8: virtual (512-byte) sectors loaded
    uint32_t load_rba = 0;      // BP 9-12: absolute sector of the image

    static BootEntry Parse(ByteView slot);
    bool IsEntry() const { return indicator == 0x88 || indicator == 0x00; }
    bool Bootable() const { return indicator == 0x88; }
    uint8_t MediaType() const { return media & 0x0F; }
    bool ExtensionFollows() const { return (media & 0x20) != 0; }
};

// 2.4: a section header: the platform and the number of section entries after it.
struct SectionHeader {
    uint8_t indicator = 0;  // BP 1: 0x90 more headers follow, 0x91 the final header
    uint8_t platform = 0;   // BP 2
    uint16_t entries = 0;   // BP 3-4

    static SectionHeader Parse(ByteView slot);
    static bool Is(uint8_t first_byte) { return first_byte == 0x90 || first_byte == 0x91; }
    bool Final() const { return indicator == 0x91; }
};

// 2.6: a section entry extension (0x44); BP 2 bit 5 says whether another follows.
constexpr uint8_t kExtensionIndicator = 0x44;
inline bool ExtensionContinues(ByteView slot) {
    return (slot.U8(1) & 0x20) != 0;
}

// The first 512 bytes of a hard-disk image: the end of its last partition, in 512-byte sectors (0 when the
// sector is no master boot record or lists no partition).
uint64_t MbrEnd(ByteView sector);
// The first 512 bytes of a FAT file system: its size in bytes from the BIOS parameter block (0 when the
// sector is no FAT boot sector).
uint64_t FatSize(ByteView sector);

}  // namespace qorvex::eltorito
