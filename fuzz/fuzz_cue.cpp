// A CUE sheet and the one BIN file beside it: the sheet's text, a NUL, then the file's bytes.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ExerciseSheet(data, size, "cue");
    return 0;
}
