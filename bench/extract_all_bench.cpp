// Extract-all of a ~1 GiB image (20 files of 40 MiB plus 20,000 files of 4 KiB), and of each half on its own,
// against 7z x and bsdtar -xf of the same images, in one run.
#include <string>

#include "bench_support.h"
#include "qorvex.h"

namespace {

enum Content { kBoth = 0, kLarge = 1, kSmall = 2 };
const char *kNames[] = {"both", "large", "small"};

std::string Image(int content) {
    const std::string dir = bench::ScratchDir();
    const std::string image = dir + "/extract-" + kNames[content] + ".iso";
    if (bench::Exists(image)) return image;
    const std::string tree = dir + "/extract-tree";
    std::string make = "rm -rf '" + tree + "' && mkdir -p '" + tree + "' && cd '" + tree + "'";
    if (content != kSmall)
        make += " && mkdir large && for i in $(seq 1 20); do head -c 41943040 /dev/urandom > large/big$i.bin; done";
    if (content != kLarge)
        make +=
            " && for d in $(seq 1 20); do mkdir -p small/d$d && for i in $(seq 1 1000); do "
            "head -c 4096 /dev/urandom > small/d$d/f$i.dat; done; done";
    bench::Run(make);
    bench::Run("genisoimage -quiet -J -joliet-long -o '" + image + "' '" + tree + "'");
    bench::Run("rm -rf '" + tree + "'");
    return image;
}

// Every run writes into a folder of its own, and all of them are removed only when the program ends: ext4 makes
// new files slower to create while it still remembers many recently deleted ones, which would penalise whichever
// contender runs after another's output was removed.
std::string Destination() {
    static int run = 0;
    return bench::ScratchDir() + "/extract-out/" + std::to_string(run++);
}

struct RemoveOutputs {
    RemoveOutputs() { bench::Run("rm -rf '" + bench::ScratchDir() + "/extract-out'"); }
    ~RemoveOutputs() { bench::Run("rm -rf '" + bench::ScratchDir() + "/extract-out'"); }
} const remove_outputs;

// Extracts every Joliet file through the public interface, as a host would.
bool ExtractAll(const std::string &image, const std::string &destination) {
    int32_t error = 0;
    QorvexHandle h = QorvexOpen(image.c_str(), 0, &error);
    if (!h) return false;
    bool ok = true;
    EntryInfo info;
    if (QorvexGetFileStart(h, 0, KIND_JOLIET)) {
        while (true) {
            const int32_t left = QorvexGetNextFile(h, &info);
            std::string path = destination;
            for (const char *p = info.name; *p; ++p) path += *p == '\\' ? '/' : *p;
            if (QorvexExtractCurrentFile(h, path.c_str()) != 0) ok = false;
            if (!left) break;
        }
    }
    QorvexClose(h);
    return ok;
}

void BM_qorvex_extract_all(benchmark::State &state) {
    const std::string image = Image(static_cast<int>(state.range(0)));
    bench::Warm(image);
    for (auto _ : state) {
        bench::Settle(state);
        if (!ExtractAll(image, Destination())) state.SkipWithError("extraction failed");
    }
    state.SetBytesProcessed(state.iterations() * bench::FileSize(image));
}

void BM_7z_x(benchmark::State &state) {
    const std::string image = Image(static_cast<int>(state.range(0)));
    bench::Warm(image);
    for (auto _ : state) {
        bench::Settle(state);
        bench::Run("7z x -y -bd -o'" + Destination() + "' '" + image + "' > /dev/null");
    }
    state.SetBytesProcessed(state.iterations() * bench::FileSize(image));
}

void BM_bsdtar_x(benchmark::State &state) {
    const std::string image = Image(static_cast<int>(state.range(0)));
    bench::Warm(image);
    for (auto _ : state) {
        bench::Settle(state);
        const std::string destination = Destination();
        bench::Run("mkdir -p '" + destination + "' && bsdtar -xf '" + image + "' -C '" + destination + "'");
    }
    state.SetBytesProcessed(state.iterations() * bench::FileSize(image));
}

}  // namespace

// Arguments: 0 the whole image, 1 the 40 MiB files only, 2 the 4 KiB files only.
BENCHMARK(BM_7z_x)->DenseRange(0, 2)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_bsdtar_x)->DenseRange(0, 2)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_qorvex_extract_all)->DenseRange(0, 2)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    return bench::RunWithRatios(argc, argv, "BM_7z_x/0");
}
