// The ISO 9660 / Joliet half of a track scan (ECMA-119 volume descriptors, path tables, directories).
#pragma once

#include <cstdint>

#include "catalogue/volume_scanner.h"

namespace qorvex::iso9660 {

// Runs the scan on the scanner's open reader; returns bit 1 for ISO 9660 and bit 2 for Joliet.
int32_t ScanIsoAndJoliet(VolumeScanner &scanner);
void BuildIsoLists(const VolumeScanner &scanner, CatalogueSet &set);
void BuildJolietLists(const VolumeScanner &scanner, CatalogueSet &set);

// Date conversions (0 = no date).
int32_t RecordingDate(const uint8_t date[7]);
int32_t VolumeDate(const uint8_t date[17]);

// Logical block size of a descriptor when this reader can use it, else 0.
int32_t UsableBlockSize(const uint8_t *descriptor, int32_t max_user_size);

// Limits that keep hostile volumes bounded.
constexpr int64_t kMaxRunBytes = 64ll << 20;         // one directory or path table
constexpr int64_t kMaxDirectoryBytes = 512ll << 20;  // all directory data of one scan
constexpr int32_t kMaxDepth = 256;                   // folders below the root that are walked
constexpr size_t kMaxPathTableRecords = 65535;       // what a 16-bit parent number can address
constexpr size_t kMaxPathLength = 32768;

}  // namespace qorvex::iso9660
