// The ISO 9660 / Joliet reader of a track: volume descriptors, path tables and directories (ECMA-119).
#pragma once

#include <vector>

#include "image/sector_reader.h"
#include "model/catalogue_entry.h"
#include "model/limits.h"
#include "model/status.h"

namespace qorvex::iso9660 {

// Reads the track's ISO 9660 and Joliet structures through `reader` (open on the track) and returns their
// listings (found = false for a file system that was not read). The status is the code of the last step that
// failed, kept even when a file system was still found (the caller decides what it means). The reader's user
// size is left at the logical block size of the last file system read.
Status ReadIso(SectorReader &reader, const Limits &limits, FsListing *iso, FsListing *joliet);

// Reads n bytes of directory or path-table data from `sector` on, a logical block per sector (a sector's user
// data while no block size is set), through `scratch`. The bytes are taken from `budget` (what one scan may read
// of such data); a run over kMaxRunBytes or the budget fails as a read.
Status ReadDirectoryRun(SectorReader &reader, uint32_t sector, uint64_t n, int32_t block, int64_t &budget,
                        std::vector<uint8_t> &out, std::vector<uint8_t> &scratch);

// Limits that keep hostile volumes bounded.
constexpr int64_t kMaxRunBytes = 64ll << 20;         // one directory or path table
constexpr uint64_t kRunStepSectors = 512;            // sectors of such a run read in one request
constexpr int64_t kMaxDirectoryBytes = 512ll << 20;  // all directory data of one scan
constexpr int32_t kMaxDepth = 256;                   // folders below the root that are walked
constexpr size_t kMaxPathTableRecords = 65535;       // what a 16-bit parent number can address
constexpr size_t kMaxPathLength = 32768;

}  // namespace qorvex::iso9660
