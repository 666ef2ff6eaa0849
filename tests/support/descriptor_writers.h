// The discs of disc_builder.h as Alcohol descriptors with their image files (.mds + .mdf) and as DiscJuggler
// images (.cdi), as those formats are published. Sessions start where the CUE sheet's rule puts them.
#pragma once

#include <string>
#include <vector>

#include "support/disc_builder.h"

namespace qorvex::test {

struct MdsForm {
    int parts = 1;                // image files: <name>.mdf, <name>.md1, ... (cut on sectors)
    bool dvd = false;             // a DVD: one 2048-byte track, its length in its track block
    bool pregaps_held = true;     // the stored pregaps lie in the image (else only their lengths are given)
    bool wide_names = false;      // file names in UTF-16
    std::string named = "*.mdf";  // the first file's name in the descriptor
};
// Writes <name>.mds and its image files into `dir`; answers the descriptor's path. 2448-byte tracks carry
// interleaved subchannel bytes.
std::string WriteMdsDisc(const std::string &dir, const std::string &name, const std::vector<DiscTrack> &tracks,
                         const MdsForm &form = {});

enum class CdiVersion : uint32_t { k2 = 0x80000004, k3 = 0x80000005, k35 = 0x80000006 };
// Writes <name>.cdi: each track's pregap (at least 150 sectors for a session's first) and sectors, then the
// descriptor and the version word with its offset (3.5: its length from the end). Answers its path.
std::string WriteCdiDisc(const std::string &dir, const std::string &name, const std::vector<DiscTrack> &tracks,
                         CdiVersion version = CdiVersion::k35);

}  // namespace qorvex::test
