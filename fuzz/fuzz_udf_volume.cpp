// The UDF reader on a track in memory (UDF 1.x rules): the volume recognition sequence, anchors, the main and
// reserve descriptor sequences, partition and logical volume descriptors, integrity and file set sequences,
// file entries with short, long and embedded allocation descriptors and their continuations, and file
// identifiers. The input is sector records laid in a UDF frame (LayUdfSectors); no image is opened.
#include "in_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ReadVolumes(fuzz::LayUdfSectors(data, size), 0, true);
    return 0;
}
