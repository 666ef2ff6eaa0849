// An ECM file: its record headers and the sectors they make again, as the container's own reader sees them and through
// every export.
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "containers/ecm_source.h"
#include "fuzz_common.h"
#include "platform/file.h"
#include "qorvex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string path = "/tmp/qorvex-fuzz-" + std::to_string(::getpid()) + ".ecm";
    {
        qorvex::platform::File file;
        if (!file.Create(path) || !file.Write(data, size) || !file.Close()) return 0;
    }
    std::shared_ptr<qorvex::StoredSource> source;
    if (qorvex::containers::OpenEcm(path, &source).IsOk()) {
        // The whole decoded stream, in blocks that straddle chunks and sectors; bounded so one input stays quick.
        std::vector<uint8_t> block(40000);
        const int64_t end = std::min<int64_t>(source->Length(), int64_t(64) << 20);
        for (int64_t at = 0; at < end; at += int64_t(block.size()))
            if (source->ReadAt(at, block.data(), int64_t(block.size())) < 0) break;
        source.reset();
        fuzz::ExerciseImage(path, OPEN_DISC_SHEETS);
    }
    ::unlink(path.c_str());
    return 0;
}
