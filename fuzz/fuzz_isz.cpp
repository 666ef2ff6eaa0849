// An ISZ file: its header, obscured chunk table and chunks of every kind, as the container's own reader sees them and
// through every export.

#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ExerciseContainer(data, size, "isz", &fuzz::OpenIszStream);
    return 0;
}
