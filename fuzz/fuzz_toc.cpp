// A cdrdao TOC file and the one BIN file beside it: the TOC's text, a NUL, then the file's bytes.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ExerciseSheet(data, size, "toc");
    return 0;
}
