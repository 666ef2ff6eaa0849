// The Rock Ridge reader on a track in memory: the primary hierarchy walked again with its SUSP / RRIP entries,
// continuation areas (CE), relocated folders (CL / PL / RE) and zisofs headers. The input is sector records
// (LaySectors); no image is opened and nothing is extracted.
#include "in_memory.h"
#include "qorvex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ReadVolumes(fuzz::LaySectors(data, size, 24, 128), OPEN_ROCK_RIDGE, false);
    return 0;
}
