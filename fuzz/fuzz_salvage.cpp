// Arbitrary bytes as an image opened with OPEN_SALVAGE: the whole pipeline, then every damage report and
// zero-filled copy of every file, and the same bytes cut short by the amount the last byte names.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "fuzz_common.h"
#include "qorvex_ext.h"

namespace {

void ExerciseDamage(const std::string &path, uint32_t options) {
    int32_t error = 0;
    QorvexHandle h = QorvexOpen(path.c_str(), options, &error);
    if (!h) return;
    const int sink = open("/dev/null", O_WRONLY);
    for (int32_t t = 0; t < QorvexGetTrackCount(h); ++t) {
        QorvexExSalvage salvage{};
        salvage.struct_size = sizeof salvage;
        QorvexExGetSalvage(h, t, &salvage);
        for (int32_t kind : {KIND_ISO9660, KIND_JOLIET, KIND_UDF, KIND_ROCKRIDGE}) {
            const int32_t files = QorvexGetFileCount(h, t, kind);
            for (int32_t i = 0; i < files; ++i) {
                QorvexExRange ranges[4];
                for (uint32_t flags : {0u, uint32_t(QORVEX_EX_DAMAGE_READ | QORVEX_EX_COPY_JOINED)})
                    QorvexExGetDamage(h, t, kind, i, flags, ranges, 4);
                QorvexExCopyFile(h, t, kind, i, sink, 0, QORVEX_EX_COPY_ZERO_FILL, nullptr, nullptr);
            }
        }
    }
    QorvexExGetDamage(h, 0, 0, -1, 0, nullptr, 0);  // no walk stands anywhere
    close(sink);
    QorvexClose(h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const size_t cut = size > 0 ? size - std::min<size_t>(size - 1, size_t(data[size - 1]) * 997) : 0;
    for (size_t length : {size, cut}) {
        const std::string path = fuzz::WriteImage(data, length);
        for (uint32_t options : {uint32_t(OPEN_SALVAGE), uint32_t(OPEN_SALVAGE | OPEN_CHECK_EDC),
                                 uint32_t(OPEN_EXTENSIONS | OPEN_CHECK_EDC | OPEN_CHECK_POSITION)}) {
            fuzz::ExerciseImage(path, options);
            ExerciseDamage(path, options);
        }
    }
    return 0;
}
