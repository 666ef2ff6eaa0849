// The ISO 9660 / Joliet descriptors, path tables and directories: the input is laid from sector 16 of a
// 2048-byte image, so that every mutation lands in the structures the scan reads.
#include <vector>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<uint8_t> image(16 * 2048, 0);
    image.insert(image.end(), data, data + size);
    if (image.size() < 24 * 2048) image.resize(24 * 2048, 0);
    image.resize((image.size() + 2047) / 2048 * 2048, 0);
    fuzz::ExerciseImage(fuzz::WriteImage(image.data(), image.size()), 0);
    return 0;
}
