// The UDF 2.x partition maps on a track in memory: the virtual allocation table (searched back from the
// track's end, 1.50 and 2.00 forms), sparing tables and their spared packets, the metadata file and its mirror,
// extended file entries and strategy 4096 chains. The input is sector records laid in a UDF frame
// (LayUdfSectors); no image is opened.
#include "in_memory.h"
#include "qorvex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ReadVolumes(fuzz::LayUdfSectors(data, size), OPEN_UDF_2X, true);
    return 0;
}
