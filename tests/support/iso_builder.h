// Builds small ISO 9660 / Joliet volumes of 2048-byte sectors in memory, and tells where every structure
// landed so that a test can damage it afterwards.
//
//   IsoOptions o;
//   o.joliet = true;
//   IsoImage image = BuildIso({Dir("DIR", {File("FILE.TXT;1", "hello")})}, o);
//   image.SetDataLength(image.iso.at("\\").record, 33);        // root record too short
//   WriteFile(dir / "a.iso", image.bytes);
//
// Layout: sectors 0-15 zero; the descriptors from sector 16 in the order given; the path tables (ISO L, M,
// Joliet L, M); the ISO directories, the Joliet directories (both breadth first); the file data in tree order;
// `trailing_sectors` zero sectors. Directory records are written in the order of the tree (not sorted), so
// the expected listing order is the tree's depth-first order. Paths in the maps are the engine's paths:
// "\" for the root, "\DIR\" for folders, "\DIR\FILE.TXT;1" for files; Joliet paths are UTF-8.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qorvex::test {

// Recording date of a directory record: years since 1900, month, day, hour, minute, second, and the offset
// from Greenwich in 15-minute units.
using RecordingDate = std::array<uint8_t, 7>;
RecordingDate MakeDate(int year, int month, int day, int hour, int minute, int second, int offset15 = 0);

struct IsoNode {
    std::string name;       // ISO 9660 identifier as recorded: "FILE.TXT;1", "DIR"
    std::u16string joliet;  // Joliet identifier; empty = `name` taken as ASCII
    bool directory = false;
    bool hidden = false;
    RecordingDate date = MakeDate(2020, 5, 6, 7, 8, 9);
    std::vector<uint8_t> data;  // file contents
    uint32_t extent_size = 0;   // > 0: the file is recorded as several extents of this many bytes (a multiple
                                // of 2048), all records but the last with the multi-extent flag
    std::vector<IsoNode> children;
    std::vector<uint8_t> system_use;       // written after the identifier of the record in its parent (SUSP entries)
    std::vector<uint8_t> self_system_use;  // a folder's: after the identifier of its own "." record
};

IsoNode File(std::string name, std::vector<uint8_t> data);
IsoNode File(std::string name, const std::string &text);
IsoNode Dir(std::string name, std::vector<IsoNode> children = {});
// Deterministic contents of n bytes (a pattern seeded by `seed`).
std::vector<uint8_t> Pattern(size_t n, uint32_t seed = 1);

// One descriptor of the set. Type 1 is a full primary descriptor, type 2 a full supplementary one over the
// Joliet hierarchy (with the escape sequences given), 255 the terminator; any other type is a block that has
// only its type, "CD001" and version 1.
struct VolumeDescriptor {
    uint8_t type = 1;
    std::string volume_id;  // type 1: empty = IsoOptions::volume_id
    std::array<uint8_t, 4> escape = {0x25, 0x2F, 0x45, 0x00};
    uint16_t block_size = 2048;
};

struct IsoOptions {
    std::string volume_id = "QORVEX";
    std::u16string joliet_volume_id = u"Qorvex";
    bool joliet = false;                             // default set: primary, Joliet (when set), terminator
    std::vector<VolumeDescriptor> descriptors;       // when not empty, replaces the default set
    std::string creation_date = "2021010203040500";  // 16 digits of the volume creation date
    int8_t creation_offset = 0;                      // its zone offset in 15-minute units
    uint32_t record_padding = 0;                     // zero bytes put before every directory record (even)
    uint32_t trailing_sectors = 2;
    std::vector<uint8_t> root_system_use;  // the root's "." record (SUSP: SP first)
};

struct IsoPlacement {
    uint32_t extent = 0;  // first sector of the data
    uint32_t length = 0;  // data length (of the first extent of a multi-extent file)
    size_t record = 0;    // byte offset in the image of the directory record (root: in the first descriptor)
};

struct IsoImage {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> descriptor_sectors;  // in the order of the descriptor set
    uint32_t iso_path_l = 0, iso_path_m = 0, joliet_path_l = 0, joliet_path_m = 0;  // path table sectors
    uint32_t iso_path_size = 0, joliet_path_size = 0;
    std::vector<size_t> iso_path_records, joliet_path_records;  // byte offsets of the type L records
    std::map<std::string, IsoPlacement> iso, joliet;

    uint32_t Sectors() const { return static_cast<uint32_t>(bytes.size() / 2048); }
    // Both-endian fields (ECMA-119 7.2.3 / 7.3.3) at a byte offset of the image.
    void Put16Both(size_t offset, uint16_t value);
    void Put32Both(size_t offset, uint32_t value);
    void SetExtent(size_t record, uint32_t extent) { Put32Both(record + 2, extent); }
    void SetDataLength(size_t record, uint32_t length) { Put32Both(record + 10, length); }
};

// `root` children form the hierarchy below the root folder.
IsoImage BuildIso(const std::vector<IsoNode> &root, const IsoOptions &options = {});

}  // namespace qorvex::test
