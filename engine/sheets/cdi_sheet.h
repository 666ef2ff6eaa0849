// DiscJuggler images (.cdi, versions 2.0, 3.0 and 3.5): every track's pregap and sectors one after the other
// from byte 0, then a descriptor of the sessions and their tracks, found through the file's last 8 bytes (the
// version word, then the descriptor's offset, or for 3.5 its length counted from the end). Each track block
// opens with a start mark and gives its file name, index lengths (the pregap, then index 1, 2, ...), CD-TEXT
// fields, mode, start sector (counted from 00:00:00), total length and sector size (2048, 2336, 2352, or 2448
// with the subchannel). Integers are little-endian.
#pragma once

#include <string>

#include "model/byte_view.h"
#include "model/status.h"
#include "sheets/sheet_layout.h"

namespace qorvex::sheets {

// Reads the image at `path` as the disc its descriptor describes. kUnknownFormat for a file without a known
// version word or whose descriptor is not consistent (fields past its end, a missing start mark, tracks past
// the sectors or overlapping), kImageOpenFailed when it cannot be read.
Status ReadCdiImage(const std::string &path, SheetDisc *disc);

// The descriptor already read: `tail` runs from the descriptor to the end of the file (the version word and
// offset are its last 8 bytes); the tracks' sectors end at `data_end`, where it begins.
Status ReadCdiDescriptor(ByteView tail, int64_t data_end, const std::string &path, SheetDisc *disc);

}  // namespace qorvex::sheets
