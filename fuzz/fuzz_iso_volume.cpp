// The ISO 9660 and Joliet reader on a track in memory: volume descriptors, the path tables (both byte
// orders), directory records and their walk, multi-extent files and Joliet names. The input is sector records
// (LaySectors); no image is opened and nothing is extracted.
#include "in_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ReadVolumes(fuzz::LaySectors(data, size, 24, 128), 0, false);
    return 0;
}
