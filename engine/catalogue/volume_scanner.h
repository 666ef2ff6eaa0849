// The short-lived object that reads one track's file-system structures.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue_entry.h"
#include "image/sector_reader.h"

namespace qorvex {

namespace udf {
struct UdfState;
struct UdfStateDeleter {
    void operator()(UdfState *state) const;
};
}  // namespace udf

struct DescriptorSlot {
    std::array<uint8_t, 2048> data{};
    uint32_t sector = 0;  // 0 while not found
    bool Found() const { return sector != 0; }
};

// A path-table record: its first 9 bytes, and its identifier as text.
struct PathTableRecord {
    std::array<uint8_t, 9> bytes{};
    std::string name;
};

// A directory record: its first 34 bytes, and its path.
struct DirectoryRecord {
    std::array<uint8_t, 34> bytes{};
    std::string path;
};

class VolumeScanner {
public:
    VolumeScanner();
    ~VolumeScanner();
    VolumeScanner(const VolumeScanner &) = delete;
    VolumeScanner &operator=(const VolumeScanner &) = delete;

    // Records a failing step's code (the last failure wins).
    void RecordError(int32_t code) { error = code; }
    // The code for a failed sector read of the scanner's reader.
    int32_t ReadFailureCode() const { return reader.EdcError() ? 0x8124 : 0x8104; }

    int32_t error = 0;
    SectorReader reader;
    std::array<uint8_t, 2448> buffer{};
    std::array<uint8_t, 512> name_scratch{};
    DescriptorSlot primary, joliet, partition, boot, terminator;
    std::vector<PathTableRecord> iso_path_table;
    std::vector<DirectoryRecord> iso_directory;
    std::vector<PathTableRecord> joliet_path_table;
    std::vector<DirectoryRecord> joliet_directory;
    std::unique_ptr<udf::UdfState, udf::UdfStateDeleter> udf;
};

// Scans one track into `set`; returns 0 or an engine result code.
int32_t ScanTrack(const TrackRecord &record, uint32_t options, CatalogueSet &set, SectorReader &volume_reader);

}  // namespace qorvex
