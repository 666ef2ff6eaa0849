// The UDF half of a track scan.
#pragma once

#include <cstdint>

#include "catalogue/volume_scanner.h"

namespace qorvex::udf {

// Reads the UDF structures of the scanner's track (its reader open); returns 4 when UDF was found, else 0.
int32_t ReadUdf(VolumeScanner &scanner);
// Fills the UDF file list, system-part list and label from what ReadUdf read.
void BuildUdfLists(VolumeScanner &scanner, CatalogueSet &set);

}  // namespace qorvex::udf
