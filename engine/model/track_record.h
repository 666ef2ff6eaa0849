// CD track and session records of an image.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/kinds.h"
#include "model/stored_source.h"

namespace qorvex {

// The bytes of one file that belong to the disc: a WAVE file's sample data lies behind its RIFF header.
struct FileWindow {
    int64_t skip = 0;     // bytes in front of the disc data
    int64_t length = -1;  // bytes of disc data; -1: up to the file's end
};

// Sectors of a later track that lie in the same files as a data track: a volume's extents may point into
// them (a Video CD's MPEG files do), past gaps the files do not hold.
struct HeldRun {
    int32_t first = 0;  // logical sector of the first
    int32_t sectors = 0;
    int64_t offset = 0;  // byte position of the first in the files' stream
};

struct TrackRecord {
    uint8_t session = 1;
    uint8_t track = 1;
    uint8_t reserved_a[2] = {0, 0};
    int32_t format = kFormatUnknown;
    int32_t reserved_b = 0;
    int32_t pregap_start = -150;  // logical sector of index 0
    int32_t start = 0;            // logical sector of index 1
    int32_t end = 0;              // logical sector just after the last one
    std::vector<std::string> files;
    int64_t file_offset = 0;      // byte position of the first stored sector in the files
    int64_t stored_length = 0;    // bytes of the track held by the files
    int64_t stored_pregap = 0;    // bytes of pregap held before index 1
    int32_t absent_pregap = 0;    // pregap sectors before the first stored sector
    int32_t absent_trailing = 0;  // sectors at the end that the files do not hold
    int32_t reserved_c[3] = {0, 0, 0};
    uint8_t reserved_d[2] = {0, 0};
    std::vector<FileWindow> windows;  // one per file when a sheet gave them; empty: every file whole
    bool byte_swapped = false;        // big-endian audio samples (a sheet's MOTOROLA files)
    // A 2448-byte track whose 96 subchannel bytes per sector lie in a file of their own (CloneCD's .sub): the
    // files above hold 2352 bytes a sector (`file_offset` counts those bytes), `subchannel` the other 96 from
    // byte `subchannel_offset` on. Empty: the files hold whole stored sectors.
    std::string subchannel;
    int64_t subchannel_offset = 0;
    std::vector<HeldRun> later_runs;  // empty: sectors past the track are read on along the stream
    // One per file when a container stands for it (its decoded stream is read instead of the file's bytes,
    // a null entry reads the file itself); empty: every file is read as it is.
    std::vector<std::shared_ptr<StoredSource>> sources;

    const StoredSource *SourceOf(size_t file) const { return file < sources.size() ? sources[file].get() : nullptr; }

    int32_t FirstHeld() const { return pregap_start + absent_pregap; }
    int32_t EndHeld() const { return end - absent_trailing; }
};

// What a disc sheet says about a track beyond its sectors, for display.
struct TrackDetails {
    std::vector<int32_t> indexes;    // logical sectors of index 0 (the pregap start), 1, 2, ...
    bool has_index0 = false;         // the sheet gave index 0 (a pregap)
    std::vector<std::string> files;  // the files the sheet named, as found in its folder (last component)
    std::string title, performer, isrc;
};

struct DiscDetails {
    std::string sheet;            // "cue", "toc", "ccd", "nrg", "ecm", "isz", "chd"; empty for a plain image
    bool sessions_found = false;  // a plain image whose later sessions were found in its volume structures
    int64_t part_bytes = 0;       // OPEN_SALVAGE: bytes of an incomplete last sector left out of the table
    int32_t tracks_cut = 0;       // OPEN_SALVAGE: tracks of the sheet that begin past the end of its files
    int64_t short_bytes = 0;      // bytes the files lack of what the sheet records (opened only with OPEN_SALVAGE)
    std::string title, performer, catalog;
    std::string warning;  // what the reader had to guess (a file the sheet names read under another name)
};

struct SessionRecord {
    uint8_t disc_kind = 0;
    int32_t session_start = 0;
    int32_t first_pregap = 0;
    int32_t first_start = 0;
    int32_t end = 0;
    int32_t lead_out_end = 0;
    uint8_t session = 0;
    uint8_t first_track = 0;
    uint8_t last_track = 0;
};

}  // namespace qorvex
