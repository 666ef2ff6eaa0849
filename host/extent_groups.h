// Which catalogue entries make one output file.
//
// A UDF file recorded in several extents is listed once per extent, all under one name; the engine joins them
// itself when asked for the whole file. An ISO 9660 or Joliet file recorded in several extents is a run of
// directory records of one name, each but the last with the multi-extent flag; the host joins those records.
// Two same-name records without the flag are two files, met at one name like any other collision.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace host {

struct ListedEntry {
    std::string name;
    uint64_t size = 0;
    uint16_t extent_count = 0;
    uint16_t extent_index = 0;
    bool more_extents = false;  // the record's multi-extent flag (ISO 9660 / Joliet)
};

struct OutputGroup {
    std::vector<size_t> entries;  // indexes into the listing, in walk order
    bool engine_joins = false;    // extract the first entry with joining on; the others come with it
    uint64_t size = 0;
};

// The output files of a listing, in the order of their first entries. `udf` selects the UDF rule.
std::vector<OutputGroup> GroupExtents(const std::vector<ListedEntry> &entries, bool udf);

// For each entry, the index of its group.
std::vector<size_t> GroupOfEntries(const std::vector<OutputGroup> &groups, size_t entry_count);

}  // namespace host
