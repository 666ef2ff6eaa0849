// MAME's CHD files (version 5, and version 4 before it): an image cut into hunks, each stored as it is, coded
// with one of the codecs the header names, or the same as an earlier hunk, found through a map (compressed in
// version 5); metadata says what the image is. A CD's hunks hold 2448-byte frames (the sector, then its subcode), each track padded to four
// frames and audio kept big-endian; a DVD's or a raw image's hunks hold its bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/status.h"
#include "model/stored_source.h"

namespace qorvex::containers {

// A CD track as the CHD's metadata gives it, with its place in the decoded stream.
struct ChdTrack {
    int32_t number = 0;
    int32_t format = 0;     // kFormat*
    bool probe_mode2 = false;  // Mode 2 of 2336 or 2352 bytes: the sectors tell its form
    int32_t sector_bytes = 0;  // in the stream: the sector's data, and the subcode where it is kept
    int32_t frames = 0;        // stored frames, the stored pregap included
    int32_t pregap = 0;
    bool pregap_stored = false;
    int32_t postgap = 0;
    int32_t pad = 0;    // GD-ROM: frames stored after the track's own, up to where the next one starts on the disc
    int64_t begin = 0;  // stream byte of the first stored frame
};

struct ChdImage {
    // A CD: its tracks, laid one after the other in `source` without the padding frames; audio samples
    // little-endian. Empty: `source` is the image itself (a DVD or a raw image).
    std::vector<ChdTrack> tracks;
    std::shared_ptr<StoredSource> source;
};

// Opens `path` and reads its header, map and metadata. kUnknownFormat for a file that is not a CHD of
// version 4 or 5 or whose map, metadata or hunks do not hold together (a map failing its CRC, a hunk past the
// file's end, a hunk the same as itself or a later one, an unknown codec); kNeedsParent for one
// that needs its parent; kTooLarge past the memory budget of the file's size.
Status OpenChd(const std::string &path, ChdImage *image);

}  // namespace qorvex::containers
