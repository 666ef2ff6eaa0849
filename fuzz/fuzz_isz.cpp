// An ISZ file: its header, obscured chunk table and chunks of every kind, as the container's own reader sees them and
// through every export.

#include "containers/isz_source.h"
#include "fuzz_common.h"
#include "qorvex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ExerciseContainer(data, size, "isz", &qorvex::containers::OpenIsz);
    return 0;
}
