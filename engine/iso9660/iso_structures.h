// ECMA-119 structures as this reader uses them, each parsed once from the bytes read.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/byte_view.h"
#include "model/instant.h"

namespace qorvex::iso9660 {

constexpr size_t kDescriptorSize = 2048;
constexpr size_t kDirectoryRecordFixed = 33;  // the record up to its identifier
constexpr size_t kPathTableRecordFixed = 8;

// ECMA-119 8.1: the head every volume descriptor starts with.
enum DescriptorType : uint8_t {
    kBootRecord = 0,
    kPrimary = 1,
    kSupplementary = 2,
    kPartition = 3,
    kTerminator = 255,
};

// ECMA-119 9.1.6 file flags.
constexpr uint8_t kFlagHidden = 0x01;
constexpr uint8_t kFlagDirectory = 0x02;
constexpr uint8_t kFlagMultiExtent = 0x80;

// ECMA-119 9.1: a directory record.
struct DirectoryRecord {
    uint8_t length = 0;             // BP 1
    uint8_t extended_length = 0;    // BP 2
    uint32_t extent = 0;            // BP 3-10, both-endian (the LE half)
    uint32_t data_length = 0;       // BP 11-18
    std::array<uint8_t, 7> date{};  // BP 19-25 (9.1.5)
    uint8_t flags = 0;              // BP 26
    uint8_t identifier_length = 0;  // BP 33
    ByteView identifier;            // BP 34-
    ByteView system_use;            // after the identifier and its padding byte, to the record's end (9.1.13)

    // The record at the start of `bytes`; identifier cut to what is held.
    static DirectoryRecord Parse(ByteView bytes);
    bool IsDirectory() const { return (flags & kFlagDirectory) != 0; }
    // "." and "..": a folder whose identifier is the single byte 0 or 1.
    bool IsSelfOrParent() const {
        return IsDirectory() && identifier_length == 1 && identifier.Size() == 1 && identifier.U8(0) <= 1;
    }
};

// ECMA-119 9.4: a path-table record (of the L table, little-endian).
struct PathTableRecord {
    uint8_t identifier_length = 0;  // BP 1
    uint32_t extent = 0;            // BP 3-6
    uint16_t parent = 0;            // BP 7-8: 1-based number of the parent's record
    ByteView identifier;            // BP 9-

    static PathTableRecord Parse(ByteView bytes);
};

// ECMA-119 8.4 (primary) and 8.5 (supplementary): the fields of a volume descriptor this reader uses.
struct VolumeDescriptor {
    uint8_t type = 0;                       // BP 1
    std::array<uint8_t, 32> volume_id{};    // BP 41-72
    uint32_t volume_space_size = 0;         // BP 81-88 (the LE half)
    std::array<uint8_t, 32> escapes{};      // BP 89-120 (supplementary: Joliet's UCS-2 level)
    uint16_t block_size = 0;                // BP 129-132 (the LE half)
    uint32_t path_table_size = 0;           // BP 133-140 (the LE half)
    uint32_t path_table_size_m = 0;         // (the BE half)
    uint32_t path_table_l = 0;              // BP 141-144
    uint32_t path_table_m = 0;              // BP 149-152, big-endian
    std::array<uint8_t, 34> root_record{};  // BP 157-190
    std::array<uint8_t, 17> created{};      // BP 814-830 (8.4.26.1)
    uint32_t sector = 0;                    // where it was found; 0 while none was

    static VolumeDescriptor Parse(ByteView bytes, uint32_t sector);
    bool Found() const { return sector != 0; }
    DirectoryRecord Root() const { return DirectoryRecord::Parse(ByteView(root_record.data(), root_record.size())); }
    // The logical block size when this reader can use it (a power of two from 512 up to what a sector
    // delivers, at most 2048), else 0.
    int32_t UsableBlockSize(int32_t max_user_size) const;
};

// "CD001" at offset 1: a volume descriptor of the set.
bool IsVolumeDescriptor(ByteView bytes);

// Dates (seconds since 1970 UTC; 0 = no date): ECMA-119 9.1.5 (7 bytes) and 8.4.26.1 (17 digits and zone).
int32_t RecordingDate(const uint8_t date[7]);
int32_t VolumeDate(const uint8_t date[17]);
// The same as instants (kNoDate for none), whatever their year.
int64_t RecordingInstant(const uint8_t date[7]);
int64_t VolumeInstant(const uint8_t date[17]);

}  // namespace qorvex::iso9660
