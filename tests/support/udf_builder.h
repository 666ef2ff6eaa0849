// Builds small ECMA-167 / UDF volumes of 2048-byte sectors in memory, and tells where every structure
// landed so that a test can damage or rewrite it afterwards.
//
//   UdfOptions o;
//   o.root.children = {UdfFileNode("A.TXT", "hello"), UdfDirNode("DOCS", {UdfFileNode("B.TXT", "x")})};
//   UdfImage image = BuildUdf(o);
//   image.At(image.layout.anchor_first)[8] ^= 1;   // break the anchor's CRC at 256
//   WriteFile(dir / "u.img", image.bytes);
//
// Layout (sectors): recognition sequence from 16 (optionally "CD001" first); main volume descriptor
// sequence at 32 (PVD, IUVD, PD, LVD, USD, TD), reserve copy at 48; integrity sequence (LVID, TD) at 64;
// anchors at 256, last and last - 256; the partition at `partition_start` with the file set sequence
// (FSD, TD) at blocks 0-1, optional space tables, then file entries and data in tree order (depth first).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qorvex::test {

struct UdfTimestamp {
    int year = 2020, month = 5, day = 6, hour = 7, minute = 8, second = 9;
    int zone = 0;  // minutes east of UTC; -2047 = none recorded
};

enum class UdfAd { Short, Long, Embedded };

struct UdfNode {
    std::u16string name;
    bool wide = false;  // 16-bit CS0 name (else 8-bit; the name must then be below U+0100)
    bool directory = false;
    bool hidden = false;
    bool deleted = false;
    std::string data;             // file contents
    UdfAd ad = UdfAd::Short;      // how the data (or the directory's identifiers) is described
    int extents = 1;              // data split over this many allocation descriptors (short / long)
    uint32_t ea_length = 0;       // extended attribute bytes before the descriptors
    bool extended_entry = false;  // written as an Extended File Entry (266)
    bool bad_fid_crc = false;     // the identifier naming this node fails its CRC
    // Strategy 4096: the entry, an indirect entry after it, and a newer entry (embedded data) it names.
    std::string newer_data;
    UdfTimestamp modified;
    std::vector<UdfNode> children;
};

UdfNode UdfFileNode(const std::string &name, const std::string &data, UdfAd ad = UdfAd::Short);
UdfNode UdfDirNode(const std::string &name, std::vector<UdfNode> children = {});
// Path (UTF-8, "\DOCS\B.TXT") -> contents of every file below `folder` that has data (an empty file has no
// extent to extract); the newer data where an entry has one.
std::map<std::string, std::string> UdfFileContents(const UdfNode &folder, const std::string &path = "\\");

// How the partition is mapped (UDF 2.x layouts).
enum class UdfMapping {
    Physical,  // one type 1 map (the described layout)
    Virtual,   // type 1 + "*UDF Virtual Partition": entries and directories through the VAT (file data
               // in the physical partition, long_ad, unless a node asks for short_ad)
    Sparable,  // one "*UDF Sparable Partition" map with its sparing tables
    Metadata,  // type 1 + "*UDF Metadata Partition": entries and directories in the metadata file's data
};

struct UdfOptions {
    bool iso_prefix = false;  // "CD001" (set terminator) at 16 before the UDF identifiers
    bool bea01 = true;
    const char *nsr = "NSR02";
    bool tea01 = true;
    bool anchor_first = true, anchor_last = true, anchor_last256 = true;
    bool reserve = true;        // reserve sequence written (its own extent)
    bool reserve_same = false;  // the anchors name the main extent as the reserve one too
    std::string label = "UDFVOLUME";
    UdfTimestamp recorded;
    uint32_t partition_start = 262;
    uint16_t partition_number = 0;
    bool type2_map = false;  // a type 2 map after the type 1 map
    bool space_bitmap = false;
    bool space_entry = false;
    std::vector<std::array<uint32_t, 2>> free_extents = {{4096, 600}};  // USD (length, location)
    int file_sets = 1;                                                  // extra file sets share the root
    UdfNode root;                                                       // the root directory (its name is not used)
    uint32_t min_sectors = 0;                                           // image at least this long
    bool all_extended = false;                                          // every entry written as an Extended File Entry
    UdfMapping mapping = UdfMapping::Physical;
    bool vat150 = false;  // Virtual: the 1.50 VAT (File Entry of type 0, identifier at the end)
    // Sparable: packet length, and the packets (first block, packet aligned) moved to the spare area.
    uint16_t packet_length = 32;
    std::vector<uint32_t> spared_packets;
    // Metadata: the gap (blocks) between the metadata file's two extents; a sparable partition below the
    // metadata partition instead of a type 1 one (spared_packets and packet_length apply).
    uint32_t metadata_gap = 3;
    bool sparable_below = false;
};

struct UdfPlacement {
    uint32_t fe_sector = 0;                        // absolute
    uint32_t fid_offset = 0;                       // absolute byte offset of the identifier naming it (0 for the root)
    std::vector<std::array<uint32_t, 2>> extents;  // (absolute sector, bytes) per allocation descriptor
    uint32_t newer_sector = 0;                     // strategy 4096: the newer entry
};

struct UdfLayout {
    uint32_t recognition = 16, main_vds = 32, reserve_vds = 48, integrity = 64;
    uint32_t anchor_first = 256, anchor_last = 0, anchor_last256 = 0;
    uint32_t partition_start = 262, fsd = 262, space_bitmap = 0, space_entry = 0;
    std::map<std::string, UdfPlacement> files;  // by engine path ("\", "\DOCS\", "\DOCS\B.TXT")
    uint32_t lvd = 35;                          // main LVD
    uint32_t vat_icb = 0;                       // Virtual
    std::vector<uint32_t> vat;                  // Virtual: partition block of each virtual block
    std::vector<uint32_t> sparing_tables;       // Sparable
    std::map<uint32_t, uint32_t> spared;        // Sparable: packet -> absolute sector it was moved to
    uint32_t metadata_file = 0, metadata_mirror = 0, metadata_bitmap = 0;  // Metadata: absolute sectors
    std::vector<std::array<uint32_t, 2>> metadata_extents;                 // (absolute sector, blocks)
    uint32_t mirror_data = 0;                                              // absolute sector of the mirror's one extent
};

struct UdfImage {
    std::vector<uint8_t> bytes;
    UdfLayout layout;

    uint8_t *At(uint32_t sector);  // grows the image as needed
    uint32_t Sectors() const { return static_cast<uint32_t>(bytes.size() / 2048); }
};

// Descriptor writers, each at the start of `d` (a sector or an offset into one).
void FinishTag(uint8_t *d, uint16_t id, uint32_t location, uint32_t total_length);  // CRC over total - 16
void RecomputeCrc(uint8_t *d);  // after editing a descriptor: CRC and checksum again
void PutTimestamp(uint8_t *p, const UdfTimestamp &t);
// Pattern() (iso_builder.h) as file contents.
std::string PatternText(size_t n, uint32_t seed);
void PutDstring(uint8_t *p, size_t size, const std::string &text);
void WriteAvdp(uint8_t *d, uint32_t location, std::array<uint32_t, 2> main, std::array<uint32_t, 2> reserve);
void WriteVdp(uint8_t *d, uint32_t location, uint32_t next_length, uint32_t next_location);
void WriteTd(uint8_t *d, uint32_t location);
void WritePvd(uint8_t *d, uint32_t location, const std::string &label, const UdfTimestamp &recorded);
void WriteIuvd(uint8_t *d, uint32_t location);
void WritePd(uint8_t *d, uint32_t location, uint16_t number, uint32_t start, uint32_t length,
             std::array<uint32_t, 2> use_ad = {0, 0}, std::array<uint32_t, 2> bitmap_ad = {0, 0});
// Partition maps as recorded (3/10.7; UDF 2.2.8-2.2.10).
std::vector<uint8_t> Type1Map(uint16_t number);
std::vector<uint8_t> Type2Map(const char *identifier, uint16_t number);
std::vector<uint8_t> SparableMap(uint16_t number, uint16_t packet, const std::vector<uint32_t> &tables, uint32_t size);
std::vector<uint8_t> MetadataMap(uint16_t number, uint32_t file, uint32_t mirror, uint32_t bitmap);
void WriteLvdMaps(uint8_t *d, uint32_t location, std::array<uint32_t, 3> fsd_ad, std::array<uint32_t, 2> integrity,
                  const std::vector<std::vector<uint8_t>> &maps);
// A sparing table (UDF 2.2.12) of (original, mapped) entries.
void WriteSparingTable(uint8_t *d, uint32_t location, uint32_t sequence,
                       const std::vector<std::array<uint32_t, 2>> &entries);
// maps: type 1 partition numbers; a negative value writes a 64-byte type 2 map.
void WriteLvd(uint8_t *d, uint32_t location, std::array<uint32_t, 3> fsd_ad /* length, block, ref */,
              std::array<uint32_t, 2> integrity, const std::vector<int> &maps);
void WriteUsd(uint8_t *d, uint32_t location, const std::vector<std::array<uint32_t, 2>> &extents);
void WriteLvid(uint8_t *d, uint32_t location, std::array<uint32_t, 2> next = {0, 0});
void WriteFsd(uint8_t *d, uint32_t location, std::array<uint32_t, 3> root, std::array<uint32_t, 3> next = {0, 0, 0});

UdfImage BuildUdf(const UdfOptions &options);

}  // namespace qorvex::test
