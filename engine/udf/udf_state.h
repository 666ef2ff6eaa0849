// The UDF working state of one track scan, and the logical volumes read from it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "catalogue/catalogue_entry.h"
#include "catalogue/volume_scanner.h"
#include "udf/udf_fields.h"

namespace qorvex::udf {

// Bounds on hostile structures.
constexpr int64_t kMaxExtentBytes = 64ll << 20;  // one extent read in one request
constexpr int64_t kMaxScanBytes = 1ll << 30;     // everything the UDF reading of one track reads
constexpr int32_t kMaxChain = 64;                // VDP, integrity and file set continuations followed
constexpr int32_t kMaxDepth = 256;               // folders below a root that are walked
constexpr size_t kMaxPathLength = 32768;
constexpr size_t kMaxEntries = 1u << 20;  // identifier entries of one logical volume
constexpr int32_t kMaxAdContinuations = 64;

// A leading-bytes copy of a descriptor, and which sequence it came from.
template <size_t N>
struct DescriptorCopy {
    std::array<uint8_t, N> bytes{};
    bool reserve = false;
    uint32_t Location() const {
        return uint32_t(bytes[12]) | (uint32_t(bytes[13]) << 8) | (uint32_t(bytes[14]) << 16) |
               (uint32_t(bytes[15]) << 24);
    }
};

// Copies up to N bytes of a descriptor of which `available` were read; the rest stays zero.
template <size_t N>
DescriptorCopy<N> CopyDescriptor(const uint8_t *d, size_t available, bool reserve) {
    DescriptorCopy<N> copy;
    for (size_t i = 0; i < N && i < available; ++i) copy.bytes[i] = d[i];
    copy.reserve = reserve;
    return copy;
}

class UdfLogicalVolume {
public:
    explicit UdfLogicalVolume(VolumeScanner &owner);
    virtual ~UdfLogicalVolume();
    UdfLogicalVolume(const UdfLogicalVolume &) = delete;
    UdfLogicalVolume &operator=(const UdfLogicalVolume &) = delete;

    // Loads the LVD copy and its type 1 partition maps from a descriptor of `available` bytes.
    void Load(const uint8_t *lvd, size_t available);
    // Partitions, integrity sequence, file set sequence and root directories; false on the first failure.
    bool Read();
    // Appends the extents of every file (not folder); returns how many.
    size_t AddFiles(Catalogue &files) const;

    uint32_t MapTableLength() const;

    int32_t last_error = 0;
    std::array<char16_t, 256> name{};
    VolumeScanner &owner;
    int32_t block_size = 0;
    std::array<uint8_t, 440> lvd{};
    std::vector<std::array<uint8_t, 6>> maps;
    std::vector<std::array<uint8_t, 134>> integrity;
    std::vector<std::array<uint8_t, 464>> file_sets;
    Catalogue entries;  // kind 33: the roots and every named identifier
    Catalogue extents;  // kinds 31 and 32: one per allocation descriptor of a file entry
    std::vector<uint32_t> partition_starts;
    bool reserve = false;  // loaded from the reserve sequence: listed, never read

private:
    bool ResolvePartitions();
    bool ReadIntegrity(ExtentAd extent, int32_t depth, std::unordered_set<uint32_t> &seen);
    bool ReadFileSets(LongAd extent, int32_t depth, std::unordered_set<uint64_t> &seen);
    bool ReadRoots();
    bool ReadIcb(LongAd icb, uint8_t characteristics, const std::string &path, int32_t depth);
    bool ProcessFileEntry(const std::vector<uint8_t> &fe, LongAd icb, uint64_t icb_sector, uint8_t characteristics,
                          const std::string &path, int32_t depth);
    bool ParseIdentifiers(const uint8_t *data, size_t length, const std::string &path, int32_t depth);
    bool ProcessIdentifier(const uint8_t *fid, size_t available, const std::string &path, int32_t depth);
    bool PartitionStart(uint16_t reference, uint32_t &start) const;
    // Lists the ICB a long_ad names as a kind-33 entry; false when its partition is unknown.
    bool AddIcbEntry(const LongAd &icb, const std::string &name);

    std::unordered_set<uint64_t> walked_;  // sectors of the directory entries of the current root walk
};

struct UdfState {
    // Sectors are counted from the track start; `base` (the track start) makes them disc-absolute in lists.
    int32_t base = 0;
    uint32_t bea01 = 0, nsr02 = 0, nsr03 = 0, tea01 = 0;
    std::vector<std::array<uint8_t, 32>> anchors;
    bool reserve_read = false;
    bool reading_reserve = false;
    std::vector<DescriptorCopy<490>> primaries;
    std::vector<DescriptorCopy<512>> implementation_uses;
    std::vector<DescriptorCopy<356>> partitions;
    std::vector<DescriptorCopy<24>> unallocated;
    std::vector<DescriptorCopy<28>> pointers;
    std::vector<std::array<uint8_t, 16>> terminators;
    std::vector<std::unique_ptr<UdfLogicalVolume>> volumes;
    std::vector<ExtentAd> free_extents;
    std::vector<std::array<uint8_t, 40>> space_entries;
    std::vector<std::array<uint8_t, 24>> space_bitmaps;
    int64_t budget = kMaxScanBytes;
};

// Seeks to track sector `sector` and reads n sectors into `out` in one request. A failure records
// 0x8103 / 0x8124 / 0x8104 in `error`; reads past the track or the caps fail as reads.
bool ReadBlocks(VolumeScanner &scanner, uint64_t sector, uint64_t n, std::vector<uint8_t> &out, int32_t &error);
// Sectors needed for `bytes` at the scanner's block size.
uint64_t BlocksFor(const VolumeScanner &scanner, uint64_t bytes);

// Reads the extent and hands every block that passes the CRC test to `action` (descriptor, bytes
// available from it). The action returns false to fail the walk. `sectors` receives the sectors read.
using BlockAction = std::function<bool(const uint8_t *descriptor, size_t available)>;
bool WalkSequence(VolumeScanner &scanner, uint32_t length, uint32_t sector, int32_t &error, uint64_t &sectors,
                  const BlockAction &action);

// Volume descriptor sequence and partition space tables.
bool ReadVolumeDescriptorSequence(VolumeScanner &scanner, uint32_t length, uint32_t sector);
bool ReadSpaceTables(VolumeScanner &scanner);

}  // namespace qorvex::udf
