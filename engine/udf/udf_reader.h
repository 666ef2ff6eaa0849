// The UDF reader of a track (ECMA-167 volume and file structure as OSTA UDF records it).
#pragma once

#include "image/sector_reader.h"
#include "model/catalogue_entry.h"
#include "model/limits.h"
#include "model/status.h"

namespace qorvex::udf {

// Reads the UDF structures of the track through `reader` (open on it) and returns the listing (found =
// false when no UDF was read). The status is the code of the last volume-level step that failed; a failure
// inside a logical volume shows only as the absence of UDF.
Status ReadUdf(SectorReader &reader, const Limits &limits, FsListing *udf);

}  // namespace qorvex::udf
