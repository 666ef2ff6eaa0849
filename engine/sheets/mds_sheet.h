// Alcohol media descriptors (.mds, format 1.x) and the image files they describe (.mdf, possibly split in
// parts read one after the other). The descriptor is binary and little-endian: an 88-byte header
// ("MEDIA DESCRIPTOR", version, medium type, sessions), 24-byte session blocks, 80-byte track blocks (mode,
// subchannel, point, sector size, start sector, start offset, files), an 8-byte extra block per CD track
// (pregap, length) and 16-byte file blocks naming the image files ("*.mdf": the descriptor's own name).
#pragma once

#include <string>

#include "model/byte_view.h"
#include "model/status.h"
#include "sheets/sheet_folder.h"
#include "sheets/sheet_layout.h"

namespace qorvex::sheets {

// A descriptor this large is not one (a real one is a few KiB, a DVD's with its disc structures ~10 KiB).
constexpr int64_t kMaxMdsBytes = 1 << 20;

// Reads a descriptor's bytes; `mds_name` is its file name (a "*.ext" file name stands for it with that
// extension), the image files are looked for in `folder`. kUnknownFormat for a descriptor that is not one of
// version 1 (a 2.x or MDX descriptor is encrypted) or is not consistent (blocks past its end, tracks out of
// order or overlapping, sectors past the image files), kImageOpenFailed when an image file is not there.
Status ReadMdsDescriptor(ByteView mds, const std::string &mds_name, const SheetFolder &folder, SheetDisc *disc);

}  // namespace qorvex::sheets
