// A CHD file: its header, compressed map (Huffman-coded types, bit-packed fields, CRC), metadata chain and
// hunks in every codec, as the container's own reader sees them and through every export.

#include <memory>
#include <string>

#include "containers/chd_source.h"
#include "fuzz_common.h"
#include "qorvex.h"

namespace {

qorvex::Status OpenChdStream(const std::string &path, std::shared_ptr<qorvex::StoredSource> *source) {
    qorvex::containers::ChdImage image;
    const qorvex::Status status = qorvex::containers::OpenChd(path, &image);
    if (status.IsOk()) *source = image.source;
    return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ExerciseContainer(data, size, "chd", &OpenChdStream);
    return 0;
}
