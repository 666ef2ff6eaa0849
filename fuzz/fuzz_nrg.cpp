// A Nero image: the disc's sectors, its chunk chain and the footer, as one file.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ExerciseNrg(data, size);
    return 0;
}
