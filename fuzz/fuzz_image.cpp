// Arbitrary bytes as an image file, with every combination of the open options.
#include "fuzz_common.h"
#include "qorvex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string path = fuzz::WriteImage(data, size);
    for (uint32_t options :
         {0u, OPEN_CHECK_EDC, OPEN_CHECK_POSITION, OPEN_CHECK_EDC | OPEN_CHECK_POSITION, uint32_t(OPEN_DISC_SHEETS)})
        fuzz::ExerciseImage(path, options);
    return 0;
}
