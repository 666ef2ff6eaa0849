// The working state of one UDF reading: private to the UDF reader's files.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "image/sector_reader.h"
#include "model/catalogue_entry.h"
#include "model/limits.h"
#include "model/status.h"
#include "udf/udf_structures.h"

namespace qorvex::udf {

// Bounds on hostile structures.
constexpr int64_t kMaxExtentBytes = 64ll << 20;  // one extent read in one request
constexpr int64_t kMaxScanBytes = 1ll << 30;     // everything the UDF reading of one track reads
constexpr int32_t kMaxChain = 64;                // VDP, integrity and file set continuations followed
constexpr int32_t kMaxDepth = 256;               // folders below a root that are walked
constexpr size_t kMaxPathLength = 32768;
constexpr size_t kMaxEntries = 1u << 20;  // identifier entries of one logical volume
constexpr int32_t kMaxAdContinuations = 64;
constexpr uint32_t kMaxVatSearch = 256;        // sectors looked at backwards from the track's last for a VAT
constexpr int32_t kMaxIcbChain = 64;           // strategy 4096 entries followed
constexpr size_t kMaxResolvedMaps = 16;        // type 2 maps of one logical volume read (each may search and read)
constexpr size_t kKeptEntryBytes = 64 * 1024;  // an entry buffer larger than this is not kept for the next entry

// A run of track sectors.
struct SectorRun {
    uint64_t sector = 0;
    uint64_t count = 0;
};

// A descriptor and which sequence it came from.
template <typename T>
struct Recorded {
    T descriptor;
    bool reserve = false;
};

class UdfScan;

// One partition map made usable: where its blocks lie on the track.
struct MappedPartition {
    MapKind kind = MapKind::kUnknown;
    bool usable = false;
    uint32_t start = 0;   // track sector of block 0 of the physical partition below
    uint32_t length = 0;  // blocks of that partition
    uint16_t physical_reference = 0;
    // Virtual
    std::vector<uint32_t> vat;
    // Sparable: packet (its first block) -> track sector it was moved to
    uint32_t packet = 0;
    std::map<uint32_t, uint32_t> spared;
    // Metadata: the metadata file's data, in order, and the first metadata block of each run
    std::vector<SectorRun> runs;
    std::vector<uint64_t> run_starts;
};

// A system part of a logical volume found while resolving its maps (VAT, sparing tables, metadata files).
struct VolumePart {
    EntryKind kind = EntryKind::kNone;
    uint64_t size = 0;
    uint32_t sector = 0;  // track sector
    uint32_t offset = 0;  // bytes into the sector (embedded data)
    uint16_t count = 1, index = 0;
    std::string name;
};

class LogicalVolume {
public:
    LogicalVolume(UdfScan &scan, const LogicalVolumeDescriptor &lvd, bool reserve);

    // Partitions, integrity sequence, file set sequence and root directories; false on the first failure
    // (its code is not passed on: a failed logical volume is a volume without UDF).
    bool Read();

    const LogicalVolumeDescriptor lvd;
    const bool reserve;  // loaded from the reserve sequence: listed, never read
    std::vector<IntegrityDescriptor> integrity;
    std::vector<FileSetDescriptor> file_sets;  // tag locations made absolute
    Catalogue entries;                         // kUdfIcb: the roots and every named identifier
    Catalogue extents;  // one per allocation descriptor of a folder's entry (a file's go straight to the file list)
    std::vector<VolumePart> parts;  // kUdfVat ... kUdfMetadataBitmap

private:
    struct Extent {
        uint32_t bytes;
        uint32_t position;
        uint16_t partition;
        uint64_t offset;  // bytes into the first sector (embedded data)
    };
    // A listed run of an extent.
    struct Piece {
        uint64_t sector;  // track sector
        uint32_t offset;
        uint64_t bytes;
        uint64_t Blocks(uint64_t s) const { return (offset + bytes + s - 1) / s; }
    };
    bool AddPieces(const Extent &e, std::vector<Piece> &pieces);
    bool OtherReference(uint16_t reference, uint16_t &other) const;

    bool ResolvePartitions();
    // UDF 2.x: every map of the table, type 2 maps resolved through their tables.
    bool ResolveAllMaps();
    bool ResolveVirtual(MappedPartition &map);
    bool ResolveSparable(const AnyPartitionMap &recorded, MappedPartition &map);
    bool ResolveMetadata(const AnyPartitionMap &recorded, MappedPartition &map);
    // Reads the metadata (or mirror) file at `block` of the physical partition into `runs`.
    bool ReadMetadataFile(const MappedPartition &map, uint32_t block, uint8_t file_type, EntryKind kind,
                          const char *name, std::vector<SectorRun> *runs);
    // The data of a file entry read from the physical partition `reference` as runs of track sectors and
    // bytes: false when an extent lies elsewhere or cannot be mapped.
    bool EntryData(const std::vector<uint8_t> &fe, const FileEntry &entry, LongAd icb,
                   std::vector<std::pair<SectorRun, uint64_t>> &data, uint64_t &offset);
    // Track sector of `block` of the partition a reference names, and how many blocks from it run on
    // (at least 1); false when it cannot be mapped.
    bool Translate(uint16_t reference, uint32_t block, uint64_t &sector, uint64_t &run) const;
    // Reads `bytes` from `block` of a referenced partition, following its map block run by block run.
    bool ReadRef(uint16_t reference, uint32_t block, uint64_t bytes, std::vector<uint8_t> &out);
    // Reads the ICB, following strategy 4096 to the newest entry; false when no entry is read.
    // entry_checked tells that what was read passed the test of a file entry (tag and CRC).
    bool ReadEntry(LongAd &icb, std::vector<uint8_t> &fe, bool &entry_checked);
    bool Extended() const { return extended_; }
    void AddPart(const VolumePart &part);
    bool ReadIntegrity(ExtentAd extent, int32_t depth, std::unordered_set<uint32_t> &seen);
    bool ReadFileSets(LongAd extent, int32_t depth, std::unordered_set<uint64_t> &seen);
    bool ReadRoots();
    bool ReadIcb(LongAd icb, uint8_t characteristics, std::string_view path, int32_t depth);
    bool ProcessFileEntry(const std::vector<uint8_t> &fe, LongAd icb, uint64_t icb_sector, uint8_t characteristics,
                          std::string_view path, int32_t depth);
    bool CollectExtents(const std::vector<uint8_t> &fe, const FileEntry &entry, LongAd icb, std::vector<Extent> &list);
    bool WalkFolderExtent(const std::vector<uint8_t> &fe, const FileEntry &entry, LongAd icb, const Extent &extent,
                          std::string_view path, int32_t depth);
    bool ParseIdentifiers(ByteView data, std::string_view path, int32_t depth);
    bool ProcessIdentifier(ByteView fid, std::string_view path, int32_t depth);
    bool PartitionStart(uint16_t reference, uint32_t &start) const;
    bool ReadBlocks(uint64_t sector, uint64_t n, std::vector<uint8_t> &out);
    // Lists the ICB a long_ad names as a kUdfIcb entry; false when its partition is unknown.
    bool AddIcbEntry(const LongAd &icb, std::string_view name);
    bool Keep(Catalogue &list, const CatalogueEntry &entry);
    // The buffer the file entries of one folder level are read into.
    std::vector<uint8_t> &EntryBuffer(int32_t depth);

    UdfScan &scan_;
    int32_t block_size_;
    bool extended_;  // UDF 2.x structures are read
    std::vector<uint32_t> partition_starts_;
    std::vector<MappedPartition> mapped_;             // UDF 2.x: one per map, by reference number
    std::unordered_set<uint64_t> walked_;             // sectors of the directory entries of the current root walk
    std::deque<std::vector<uint8_t>> entry_buffers_;  // by depth; a deque, so that growing it moves none
    std::string path_;                                // the path of the identifier being read
};

class UdfScan {
public:
    UdfScan(SectorReader &reader, const Limits &limits, FsListing &listing);

    bool Run();        // true when UDF was read
    void BuildList();  // fills the listing from what was read

    // Seeks to track sector `sector` and reads n sectors into `out` in one request. Reads past the track or
    // the caps fail as reads.
    Status ReadBlocks(uint64_t sector, uint64_t n, std::vector<uint8_t> &out);
    // Sectors needed for `bytes` at the track's block size.
    uint64_t BlocksFor(uint64_t bytes) const;
    // Reads the extent and hands every block that passes the CRC test to `action` (the bytes from that
    // block to the end of what was read). The action returns false to fail the walk.
    using BlockAction = std::function<bool(ByteView descriptor)>;
    Status WalkSequence(uint32_t length, uint32_t sector, uint64_t &sectors, const BlockAction &action);
    // The same over bytes already read.
    bool WalkBlocks(uint32_t length, ByteView bytes, const BlockAction &action) const;
    // Logical blocks of the track.
    uint64_t TrackSectors() const;
    // The logical block size everything is counted in: the sector's user size, unless (UDF 2.x reading) the
    // anchors were found at 256 blocks of another size (a volume for hard disks or memory sticks).
    int32_t BlockSize() const { return block_; }
    // Blocks of another size than the sector's become sectors and byte offsets in the listing.
    void ListInSectors();
    // Every partition descriptor read, main and reserve, in the order read.
    const std::vector<Recorded<PartitionDescriptor>> &Partitions() const { return partitions_; }
    bool Fail(Status status) {
        status_ = status;
        return false;
    }

    SectorReader &reader;
    const Limits &limits;
    MemoryBudget &budget;
    FsListing &listing;
    Status status_;  // the last volume-level failure
    // Sectors are counted from the track start; `base` (the track start) makes them disc-absolute in lists.
    int32_t base = 0;
    std::vector<uint32_t> terminators;  // tag locations as listed

private:
    bool ReadRecognition(uint32_t step);
    bool ReadAnchor(bool seek_ok);
    bool ReadAnchors();
    // UDF 2.x: the anchors at 256 blocks of 512, 1024 or 4096 bytes; sets the block size they were found with.
    bool FindBlockSize();
    bool ReadAnchorBlock(uint64_t block);
    bool ReadSequence(uint32_t length, uint32_t sector, int32_t depth, std::unordered_set<uint32_t> &seen);
    bool ReadSpaceTables();
    void RecordEnds(const AnchorPointer &anchor);
    bool ReadSpaceTable(uint32_t start, const LongAd &table, uint16_t wanted);

    uint32_t bea01_ = 0, nsr02_ = 0, nsr03_ = 0, tea01_ = 0;
    std::vector<AnchorPointer> anchors_;
    bool reserve_read_ = false;
    bool reading_reserve_ = false;
    std::vector<Recorded<PrimaryVolumeDescriptor>> primaries_;
    std::vector<Recorded<Tag>> implementation_uses_;
    std::vector<Recorded<PartitionDescriptor>> partitions_;
    std::vector<Recorded<UnallocatedSpaceDescriptor>> unallocated_;
    std::vector<Tag> pointers_;
    std::vector<std::unique_ptr<LogicalVolume>> volumes_;
    std::vector<ExtentAd> free_extents_;
    std::vector<SpaceEntry> space_entries_;   // tag locations made absolute
    std::vector<SpaceBitmap> space_bitmaps_;  // tag locations made absolute
    int64_t read_budget_ = kMaxScanBytes;
    std::vector<uint8_t> sector_;
    int32_t sector_size_ = 2048;  // the reader's user size
    int32_t block_ = 2048;
    std::vector<uint8_t> sectors_;  // the sectors a run of smaller or larger blocks is cut from
};

}  // namespace qorvex::udf
