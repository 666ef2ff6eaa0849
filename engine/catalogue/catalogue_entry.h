// One listed file, folder or system part of a track's file system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qorvex {

constexpr int32_t kAttributeHidden = 0x02;
constexpr int32_t kAttributeDirectory = 0x10;

struct CatalogueEntry {
    int32_t kind = 0;
    uint64_t size = 0;
    int32_t attributes = 0;
    int32_t file_flags = 0;
    uint32_t extent = 0;        // absolute sector of the first logical block
    uint32_t sectors = 0;       // logical blocks covered from the extent
    uint32_t offset_bytes = 0;  // data offset from the start of the extent
    uint16_t extent_count = 1;
    uint16_t extent_index = 0;
    int32_t date = 0;
    std::string name;
};

using Catalogue = std::vector<CatalogueEntry>;

// Labels and lists of one track, filled once by the scan.
struct CatalogueSet {
    std::string iso_label, joliet_label, udf_label;
    Catalogue iso_files, joliet_files, udf_files;
    Catalogue iso_parts, joliet_parts, udf_parts;
};

}  // namespace qorvex
