// A CHD file: its header, compressed map (Huffman-coded types, bit-packed fields, CRC), metadata chain and
// hunks in every codec, as the container's own reader sees them and through every export.

#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ExerciseContainer(data, size, "chd", &fuzz::OpenChdStream);
    return 0;
}
