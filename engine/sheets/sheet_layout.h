// A disc as a sheet describes it (files, and tracks placed in the byte stream of those files), and its
// layout as the track table of image/. Every sheet format is turned into this first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/status.h"
#include "model/track_record.h"

namespace qorvex::sheets {

// Limits of what a sheet may describe; real discs stay far below them.
constexpr size_t kMaxTracks = 99;
constexpr size_t kMaxFiles = 256;
constexpr size_t kMaxIndexes = 99;
// Sector numbers and counts stay far from the int32 limits whatever a sheet says.
constexpr int64_t kMaxSheetSectors = int64_t(1) << 30;

struct SheetFile {
    std::string path;                      // found in the sheet's folder
    std::string named;                     // its last component as found, for display
    FileWindow window;                     // length resolved (>= 0)
    bool swapped = false;                  // MOTOROLA: big-endian audio samples
    std::shared_ptr<StoredSource> source;  // a container standing for the file (x.bin.ecm for x.bin); null: none
};

// How the format of a Mode 2 track is told apart: from its sectors.
enum class ModeProbe : uint8_t { kNone, kMode2Raw, kMode2_2336 };

struct SheetTrack {
    int32_t number = 0;  // as the sheet numbers it
    uint8_t session = 1;
    int32_t format = kFormatUnknown;
    ModeProbe probe = ModeProbe::kNone;
    int32_t absent_pregap = 0;    // sectors of pregap the files do not hold (PREGAP)
    int32_t absent_trailing = 0;  // sectors after the track the files do not hold (POSTGAP)
    int64_t begin = -1;           // stream byte of the first stored sector (index 0 when given, else 1)
    int64_t index1 = -1;          // stream byte of index 1
    std::vector<int64_t> higher;  // stream bytes of index 2, 3, ...
    bool has_index0 = false;
    std::string title, performer, isrc;
};

struct SheetDisc {
    std::vector<SheetFile> files;  // in stream order
    std::vector<SheetTrack> tracks;
    DiscDetails details;
    // A file of 96 subchannel bytes for each 2352-byte sector of the stream (CloneCD's .sub); the tracks are
    // then read as 2448-byte sectors. Empty: none.
    std::string subchannel;
    // Where index 1 of an audio first track lies when a disc's own table says so (Nero's cue points); a
    // data first track is always at 0.
    int32_t first_start = 0;
};

// Lays the tracks out on the disc: sector 0 is index 1 of track 1 (or `first_start` for audio); a track ends where the
// next one's first stored sector begins (or the stream ends); a later session starts after the lead-out of the one
// before and a 4500-sector lead-in. Fails with kUnknownFormat for a disc no table can hold (tracks out of order,
// overlapping, beyond the files, not whole sectors, a subchannel file beside sectors that are not 2352 bytes).
Status LayOut(const SheetDisc &disc, std::vector<TrackRecord> *tracks, std::vector<TrackDetails> *details);

}  // namespace qorvex::sheets
