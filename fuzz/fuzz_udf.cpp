// The UDF descriptor sequences and the file-entry walk through the whole open: the input is laid as LayUdf
// lays it (recognition sequence, anchors, CRCs made right) and each input is opened without and with the
// UDF 2.x bit, with every entry extracted.
#include "fuzz_common.h"
#include "in_memory.h"
#include "qorvex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::vector<uint8_t> &image = fuzz::LayUdf(data, size);
    const std::string path = fuzz::WriteImage(image.data(), image.size());
    fuzz::ExerciseImage(path, 0);
    fuzz::ExerciseImage(path, OPEN_UDF_2X);
    return 0;
}
