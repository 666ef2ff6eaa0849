// Nero images (.nrg): the disc's sectors, then a chain of chunks describing them (CUEX/CUES cue points,
// DAOX/DAOI disc-at-once tracks, ETN2/ETNF track-at-once tracks, SINF, MTYP, END!), found through the footer
// in the file's last 12 bytes ("NER5", 64-bit offset) or last 8 ("NERO", 32-bit offset). Integers are
// big-endian.
#pragma once

#include <string>

#include "model/byte_view.h"
#include "model/status.h"
#include "sheets/sheet_layout.h"

namespace qorvex::sheets {

// Reads the image at `path` as the disc its chunks describe. kUnknownFormat for a file without a footer or
// whose chunks are not consistent (lengths past their region, offsets outside the sectors, tracks overlapping
// or apart), kImageOpenFailed when it cannot be read.
Status ReadNrgImage(const std::string &path, SheetDisc *disc);

// The chunks of a chain already read (the image's sectors end at `data_end`, where the chain begins), as the
// disc at `path` they describe.
Status ReadNrgChunks(ByteView chain, int64_t data_end, const std::string &path, SheetDisc *disc);

}  // namespace qorvex::sheets
