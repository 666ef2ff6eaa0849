// qorvex mount against qorvex extract in one run: a large file read sequentially through the mount and the same
// file extracted (the mount should reach at least 70% of the extraction's throughput, a time ratio of at most
// 1.43), and 4 KiB reads at random offsets of it with the image warm (each should take well under 1 ms). Run
// with QORVEX_BENCH_DIR on a tmpfs (/dev/shm) and QORVEX_BENCH_MIB=2048 or more for a file of 512 MiB.
// The mount's own page cache is dropped before each timed pass, so every pass goes through its program.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

std::string Program() {
    char self[PATH_MAX] = {0};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(0, path.rfind('/') + 1) + "qorvex";
}

int64_t Mib() {
    const char *mib = std::getenv("QORVEX_BENCH_MIB");
    return mib ? std::max<int64_t>(16, std::atoll(mib) / 4) : 256;
}

const std::string &Image() {
    static const std::string image = [] {
        const std::string dir = bench::ScratchDir();
        const std::string path = dir + "/mount-" + std::to_string(Mib()) + ".iso";
        if (!bench::Exists(path)) {
            const std::string tree = dir + "/mount-tree";
            bench::Run("rm -rf '" + tree + "' && mkdir -p '" + tree + "' && head -c " + std::to_string(Mib() << 20) +
                       " /dev/urandom > '" + tree + "/big.bin'");
            bench::Run("genisoimage -quiet -J -o '" + path + "' '" + tree + "' && rm -rf '" + tree + "'");
        }
        bench::Warm(path);
        return path;
    }();
    return image;
}

// Mounted once for the run, unmounted when the program ends.
struct Mount {
    std::string folder = bench::ScratchDir() + "/mount-point";
    Mount() {
        bench::Run("mkdir -p '" + folder + "' && (fusermount3 -u -q '" + folder + "' || true)");
        bench::Run("'" + Program() + "' mount '" + Image() + "' '" + folder + "'");
    }
    ~Mount() { bench::Run("fusermount3 -u '" + folder + "'"); }
    std::string File() const { return folder + "/big.bin"; }
};

const Mount &Mounted() {
    static const Mount mount;
    return mount;
}

void DropMountCache(const std::string &file) {
    const int fd = open(file.c_str(), O_RDONLY);
    if (fd >= 0) posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED), close(fd);
}

void BM_ExtractFile(benchmark::State &state) {
    const std::string out = bench::ScratchDir() + "/mount-extract", image = Image();  // made before the timing
    for (auto _ : state) {
        state.PauseTiming();
        bench::Run("rm -rf '" + out + "'");
        state.ResumeTiming();
        bench::Run("'" + Program() + "' -q extract '" + image + "' -o '" + out + "' big.bin");
        bench::Settle(state);
    }
    state.SetBytesProcessed(state.iterations() * (Mib() << 20));
}

void BM_MountSequentialRead(benchmark::State &state) {
    const std::string file = Mounted().File();
    std::vector<char> buffer(1 << 20);
    for (auto _ : state) {
        state.PauseTiming();
        DropMountCache(file);
        state.ResumeTiming();
        const int fd = open(file.c_str(), O_RDONLY);
        while (read(fd, buffer.data(), buffer.size()) > 0) {
        }
        close(fd);
    }
    state.SetBytesProcessed(state.iterations() * (Mib() << 20));
}

// One iteration is one 4 KiB read at a random offset (the mount's cache dropped every 256 reads).
void BM_MountRandomRead4K(benchmark::State &state) {
    const std::string file = Mounted().File();
    const int fd = open(file.c_str(), O_RDONLY);
    std::mt19937_64 random(29);
    const uint64_t blocks = static_cast<uint64_t>(Mib() << 20) / 4096;
    char buffer[4096];
    int64_t n = 0;
    for (auto _ : state) {
        if (n++ % 256 == 0) {
            state.PauseTiming();
            posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            state.ResumeTiming();
        }
        if (pread(fd, buffer, sizeof buffer, static_cast<off_t>(random() % blocks * 4096)) != sizeof buffer)
            state.SkipWithError("short read");
    }
    close(fd);
}

BENCHMARK(BM_ExtractFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MountSequentialRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MountRandomRead4K)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
        std::printf("mount_bench: /dev/fuse is not usable here; nothing measured\n");
        return 0;
    }
    // Five rounds unless told otherwise: the medians are compared (the machine may be shared).
    std::vector<char *> args(argv, argv + argc);
    std::string rounds = "--benchmark_repetitions=5";
    bool repeated = false;
    for (int i = 1; i < argc; ++i) repeated |= std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0;
    if (!repeated) args.push_back(rounds.data());
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    std::map<std::string, double> seconds;
    const int result = bench::RunWithRatios(count, args.data(), "BM_ExtractFile", &seconds);
    const double extract = seconds["BM_ExtractFile/real_time"], mount = seconds["BM_MountSequentialRead/real_time"];
    const double random = seconds["BM_MountRandomRead4K/real_time"];
    if (extract > 0 && mount > 0)
        std::printf(
            "\nSequential read through the mount: %.0f%% of the extraction's throughput (at least 70%% wanted)\n",
            100 * extract / mount);
    if (random > 0)
        std::printf("Random 4 KiB read through the mount, warm: %.1f us (under 1000 us wanted)\n", random * 1e6);
    return result;
}
