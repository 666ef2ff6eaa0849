#include "bench_support.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>

#include "image/sector_format.h"
#include "verify/sector_ecc.h"

namespace bench {

std::string ScratchDir() {
    const char *env = std::getenv("QORVEX_BENCH_DIR");
    std::string dir = env && *env ? env : "/tmp/qorvex-bench";
    ::mkdir(dir.c_str(), 0700);
    return dir;
}

bool Exists(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

int64_t FileSize(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

void Run(const std::string &command) {
    if (std::system(command.c_str()) != 0) {
        std::cerr << "command failed: " << command << "\n";
        std::exit(2);
    }
}

namespace {
void Put32Both(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
    for (int i = 0; i < 4; ++i) p[4 + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void Put16Both(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}
void DirRecord(uint8_t *r, uint32_t extent, uint8_t id) {
    r[0] = 34;
    Put32Both(r + 2, extent);
    Put32Both(r + 10, 2048);
    r[25] = 2;
    Put16Both(r + 28, 1);
    r[32] = 1;
    r[33] = id;
}
uint8_t Bcd(int v) {
    return static_cast<uint8_t>((v / 10) << 4 | (v % 10));
}
}  // namespace

void WriteIso(const std::string &path, int64_t sectors) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<uint8_t> s(2048);
    for (int64_t i = 0; i < sectors; ++i) {
        std::memset(s.data(), 0, s.size());
        if (i == 16) {
            s[0] = 1;
            std::memcpy(s.data() + 1, "CD001", 5);
            s[6] = 1;
            std::memcpy(s.data() + 40, "BENCH", 5);
            Put32Both(s.data() + 80, static_cast<uint32_t>(sectors));
            Put16Both(s.data() + 120, 1);
            Put16Both(s.data() + 124, 1);
            Put16Both(s.data() + 128, 2048);
            DirRecord(s.data() + 156, 18, 0);
        } else if (i == 17) {
            s[0] = 255;
            std::memcpy(s.data() + 1, "CD001", 5);
            s[6] = 1;
        } else if (i == 18) {
            DirRecord(s.data(), 18, 0);
            DirRecord(s.data() + 34, 18, 1);
        } else if (i > 18) {
            for (size_t k = 0; k < s.size(); k += 8) std::memcpy(s.data() + k, &i, 8);
        }
        out.write(reinterpret_cast<const char *>(s.data()), 2048);
    }
}

void WriteMode1Raw(const std::string &iso, const std::string &raw) {
    std::ifstream in(iso, std::ios::binary);
    std::ofstream out(raw, std::ios::binary | std::ios::trunc);
    std::vector<uint8_t> sector(2352);
    for (int64_t i = 0;; ++i) {
        std::memset(sector.data(), 0, sector.size());
        if (!in.read(reinterpret_cast<char *>(sector.data() + 16), 2048)) break;
        sector[0] = 0;
        std::memset(sector.data() + 1, 0xFF, 10);
        const int64_t a = i + 150;
        sector[12] = Bcd(static_cast<int>(a / 4500));
        sector[13] = Bcd(static_cast<int>(a / 75 % 60));
        sector[14] = Bcd(static_cast<int>(a % 75));
        sector[15] = 1;
        const uint32_t edc = qorvex::ComputeEdc(sector.data(), 2064);
        for (int k = 0; k < 4; ++k) sector[2064 + k] = static_cast<uint8_t>(edc >> (8 * k));
        qorvex::ecc::Block block;
        std::memcpy(block.bytes, sector.data() + 12, qorvex::ecc::kCovered);
        qorvex::ecc::Encode(block);
        std::memcpy(sector.data() + 12, block.bytes, qorvex::ecc::kCovered);
        out.write(reinterpret_cast<const char *>(sector.data()), 2352);
    }
}

void Settle(benchmark::State &state) {
    state.PauseTiming();
    ::sync();
    state.ResumeTiming();
}

void Warm(const std::string &path) {
    Run("cat '" + path + "' > /dev/null");
}

namespace {
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        // With repetitions the median (reported after them) stands for the benchmark.
        for (const Run &run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                seconds_[run.benchmark_name()] = run.real_accumulated_time / static_cast<double>(run.iterations);
            else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" && run.iterations > 0)
                seconds_[run.run_name.str()] = run.real_accumulated_time / static_cast<double>(run.iterations);
    }
    std::map<std::string, double> seconds_;
};
}  // namespace

int RunWithRatios(int argc, char **argv, const std::string &baseline, std::map<std::string, double> *seconds) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::cout << "\nTime relative to " << baseline << " (below 1.0 is faster):\n";
    double base = 0;
    for (const auto &[name, s] : reporter.seconds_)
        if (name == baseline || name.rfind(baseline + "/", 0) == 0) base = s;
    for (const auto &[name, s] : reporter.seconds_) {
        if (base > 0)
            std::printf("  %-60s %8.3f s  %6.2fx\n", name.c_str(), s, s / base);
        else
            std::printf("  %-60s %8.3f s\n", name.c_str(), s);
    }
    if (seconds) *seconds = reporter.seconds_;
    return 0;
}

}  // namespace bench
