// The El Torito boot record, catalogue and boot images: the input is laid from sector 16 of a 2048-byte image
// opened with boot images on, so that mutations land in the descriptor set, the catalogue and the first
// sectors of the images (partition table, FAT boot sector).
#include <vector>

#include "fuzz_common.h"
#include "qorvex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<uint8_t> image(16 * 2048, 0);
    image.insert(image.end(), data, data + size);
    if (image.size() < 24 * 2048) image.resize(24 * 2048, 0);
    image.resize((image.size() + 2047) / 2048 * 2048, 0);
    fuzz::ExerciseImage(fuzz::WriteImage(image.data(), image.size()), OPEN_BOOT_IMAGES);
    return 0;
}
