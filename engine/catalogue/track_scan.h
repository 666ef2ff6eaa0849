// The scan of one track: its readers are run once and what they return is kept.
#pragma once

#include "image/sector_reader.h"
#include "model/catalogue_entry.h"
#include "model/limits.h"
#include "model/status.h"
#include "model/track_record.h"

namespace qorvex {

// The catalogues of one track, filled once by the scan.
struct TrackCatalogues {
    FsListing iso, joliet, udf;
    FsListing rockridge;   // with OPEN_ROCK_RIDGE
    SalvageNotes salvage;  // with OPEN_SALVAGE: what the readers could not read

    // The listing a file-system selector names, or null for any other value.
    const FsListing *Get(int32_t kind) const;
};

// Scans one track: ISO 9660 and Joliet, then UDF. On success `catalogues` holds what was found and
// `volume_reader` takes over the scan's reader (with the user size the scan left set). A track where nothing
// was found fails with the last code a reader left, or kUnknownFormat; an audio track has empty catalogues.
// With keep_bare, a data track where nothing was found succeeds with empty catalogues (unless the memory
// budget ran out or its files cannot be opened).
Status ScanTrack(const TrackRecord &record, const Limits &limits, TrackCatalogues &catalogues,
                 SectorReader &volume_reader, bool keep_bare = false);

}  // namespace qorvex
