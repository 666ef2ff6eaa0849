// The Rock Ridge reader of a track: the primary hierarchy walked again with its SUSP / RRIP entries (POSIX
// names, modes, owners, stamps, links, devices and relocated folders).
#pragma once

#include "image/sector_reader.h"
#include "model/catalogue_entry.h"
#include "model/limits.h"
#include "model/status.h"

namespace qorvex::rockridge {

// Reads the Rock Ridge hierarchy of the track's primary volume descriptor through `reader` (open on the
// track). `rockridge->found` is false when the volume carries no SP / RRIP entries or when its hierarchy could
// not be read; the status is the code of the step that failed (kTooLarge when the budget refused). The
// reader's user size is restored before returning.
Status ReadRockRidge(SectorReader &reader, const Limits &limits, FsListing *rockridge);

// Limits that keep hostile volumes bounded (besides those of the ISO 9660 reader, which apply as well).
constexpr int32_t kMaxFolderDepth = 256;  // folders below the root that are walked, relocations included

}  // namespace qorvex::rockridge
