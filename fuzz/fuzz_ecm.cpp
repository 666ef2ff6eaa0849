// An ECM file: its record headers and the sectors they make again, as the container's own reader sees them and through
// every export.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "containers/ecm_source.h"
#include "fuzz_common.h"
#include "qorvex.h"

namespace {

bool ReadWhole(const std::string &path) {
    std::shared_ptr<qorvex::StoredSource> source;
    if (!qorvex::containers::OpenEcm(path, &source).IsOk()) return false;
    std::vector<uint8_t> block(40000);
    const int64_t end = std::min<int64_t>(source->Length(), int64_t(64) << 20);
    for (int64_t at = 0; at < end; at += int64_t(block.size()))
        if (source->ReadAt(at, block.data(), int64_t(block.size())) < 0) break;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ExerciseContainer(data, size, "ecm", &ReadWhole);
    return 0;
}
