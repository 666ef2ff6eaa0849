// An ECM file: its record headers and the sectors they make again, as the container's own reader sees them and through
// every export.

#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ExerciseContainer(data, size, "ecm", &fuzz::OpenEcmStream);
    return 0;
}
