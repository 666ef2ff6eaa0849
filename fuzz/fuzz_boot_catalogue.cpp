// The El Torito reader on a track in memory: the boot record among the volume descriptors, the catalogue's
// validation, initial, section and extension entries, and the sizes of the boot images (partition table, FAT
// boot sector). The input is sector records (LaySectors); no image is opened.
#include "in_memory.h"
#include "qorvex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ReadVolumes(fuzz::LaySectors(data, size, 24, 128), OPEN_BOOT_IMAGES, false);
    return 0;
}
