// The discs of disc_builder.h as Alcohol descriptors with their image files (.mds + .mdf) and as DiscJuggler
// images (.cdi), laid out as those formats are published. Sessions start where the CUE sheet's rule puts
// them (a track's absent pregap is its disc pregap beyond the stored one).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/disc_builder.h"

namespace qorvex::test {

struct MdsForm {
    int parts = 1;                // image files: <name>.mdf, then <name>.md1, <name>.md2, ... (split on sectors)
    bool dvd = false;             // a DVD descriptor: one 2048-byte track, its length in the track block
    bool pregaps_held = true;     // the stored pregaps lie in the image (else only their lengths are given)
    bool wide_names = false;      // the file names in UTF-16
    std::string named = "*.mdf";  // the first file's name as the descriptor gives it
};

// Writes <name>.mds and its image files into `dir`; answers the descriptor's path. Tracks of formats 14-18
// (2448 bytes) carry interleaved subchannel bytes.
std::string WriteMdsDisc(const std::string &dir, const std::string &name, const std::vector<DiscTrack> &tracks,
                         const MdsForm &form = {});

enum class CdiVersion : uint32_t { k2 = 0x80000004, k3 = 0x80000005, k35 = 0x80000006 };

// Writes <name>.cdi: every track's pregap (the stored one, 150 sectors for a session's first track) and
// sectors one after the other, then the descriptor and the version word with the descriptor's offset (its
// length from the end for 3.5). Answers its path.
std::string WriteCdiDisc(const std::string &dir, const std::string &name, const std::vector<DiscTrack> &tracks,
                         CdiVersion version = CdiVersion::k35);

}  // namespace qorvex::test
