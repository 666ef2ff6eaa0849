// A CloneCD control file and the image beside it: the control file's text, a NUL, then the image's bytes.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ExerciseSheet(data, size, "ccd");
    return 0;
}
