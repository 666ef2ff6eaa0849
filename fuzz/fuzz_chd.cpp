// A CHD file: its header, compressed map (Huffman-coded types, bit-packed fields, CRC), metadata chain and
// hunks in every codec, as the container's own reader sees them and through every export.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "containers/chd_source.h"
#include "fuzz_common.h"
#include "qorvex.h"

namespace {

bool ReadWhole(const std::string &path) {
    qorvex::containers::ChdImage image;
    if (!qorvex::containers::OpenChd(path, &image).IsOk()) return false;
    std::vector<uint8_t> block(40000);
    const int64_t end = std::min<int64_t>(image.source->Length(), int64_t(64) << 20);
    for (int64_t at = 0; at < end; at += int64_t(block.size()))
        if (image.source->ReadAt(at, block.data(), int64_t(block.size())) < 0) break;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ExerciseContainer(data, size, "chd", &ReadWhole);
    return 0;
}
