// The SUSP / Rock Ridge entries of the primary hierarchy, read with OPEN_ROCK_RIDGE: the input is laid from
// sector 16 of a 2048-byte image, so that mutations land in the directories, their system use areas and the
// continuation areas behind them.
#include <vector>

#include "fuzz_common.h"
#include "qorvex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<uint8_t> image(16 * 2048, 0);
    image.insert(image.end(), data, data + size);
    if (image.size() < 24 * 2048) image.resize(24 * 2048, 0);
    image.resize((image.size() + 2047) / 2048 * 2048, 0);
    fuzz::ExerciseImage(fuzz::WriteImage(image.data(), image.size()), OPEN_ROCK_RIDGE);
    return 0;
}
