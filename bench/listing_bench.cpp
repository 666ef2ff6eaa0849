// Open plus full listing (every file and system part of ISO 9660 and Joliet) of images with 10,000 and
// 100,000 files, against 7z and bsdtar listing the same images; the growth from 10k to 100k should be linear.
#include <cstdlib>
#include <string>

#include "bench_support.h"
#include "qorvex.h"

namespace {

std::string Image(int files) {
    const std::string dir = bench::ScratchDir();
    const std::string image = dir + "/list-" + std::to_string(files) + ".iso";
    if (bench::Exists(image)) return image;
    const std::string tree = dir + "/list-tree-" + std::to_string(files);
    // Folders of 1,000 small files each; genisoimage records them with Joliet names.
    bench::Run("rm -rf '" + tree + "' && mkdir -p '" + tree + "' && cd '" + tree + "' && for d in $(seq 1 " +
               std::to_string(files / 1000) +
               "); do mkdir d$d && (cd d$d && seq 1 1000 | sed 's/^/file-with-a-longer-name-/' | xargs touch); done");
    bench::Run("genisoimage -quiet -J -joliet-long -o '" + image + "' '" + tree + "'");
    bench::Run("rm -rf '" + tree + "'");
    return image;
}

void BM_qorvex_open_and_list(benchmark::State &state) {
    const std::string image = Image(static_cast<int>(state.range(0)));
    bench::Warm(image);
    int64_t entries = 0;
    for (auto _ : state) {
        int32_t error = 0;
        QorvexHandle h = QorvexOpen(image.c_str(), 0, &error);
        if (!h) {
            state.SkipWithError("open failed");
            return;
        }
        EntryInfo info;
        entries = 0;
        for (int kind : {KIND_ISO9660, KIND_JOLIET}) {
            if (QorvexGetFileStart(h, 0, kind))
                while (true) {
                    const int32_t left = QorvexGetNextFile(h, &info);
                    ++entries;
                    if (!left) break;
                }
            if (QorvexGetModuleStart(h, 0, kind))
                while (true) {
                    const int32_t left = QorvexGetNextModule(h, &info);
                    ++entries;
                    if (!left) break;
                }
        }
        QorvexClose(h);
    }
    state.counters["entries"] = static_cast<double>(entries);
}

void BM_7z_list(benchmark::State &state) {
    const std::string image = Image(static_cast<int>(state.range(0)));
    for (auto _ : state) bench::Run("7z l '" + image + "' > /dev/null");
}

void BM_bsdtar_list(benchmark::State &state) {
    const std::string image = Image(static_cast<int>(state.range(0)));
    for (auto _ : state) bench::Run("bsdtar -tf '" + image + "' > /dev/null");
}

}  // namespace

BENCHMARK(BM_qorvex_open_and_list)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_7z_list)->Arg(10000)->Arg(100000)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_bsdtar_list)->Arg(10000)->Arg(100000)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    return bench::RunWithRatios(argc, argv, "BM_qorvex_open_and_list/10000");
}
