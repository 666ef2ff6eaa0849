// Verify of a raw Mode 1 image (every sector's sync, header, EDC and P/Q parity, through the scan `qorvex verify`
// runs) against md5sum reading the same file, in one run. Verify must take no longer.
#include <cstdlib>
#include <string>

#include "bench_support.h"
#include "disc_verify.h"
#include "qorvex_ext.h"

namespace {

struct Image {
    std::string raw;
    int64_t bytes = 0;
};

const Image &GetImage() {
    static Image image = [] {
        Image m;
        const char *mib_env = std::getenv("QORVEX_BENCH_MIB");
        const int64_t mib = mib_env ? std::atoll(mib_env) : 512;
        const std::string dir = bench::ScratchDir();
        const std::string iso = dir + "/verify-" + std::to_string(mib) + ".iso";
        m.raw = dir + "/verify-" + std::to_string(mib) + ".bin";
        const int64_t sectors = mib * 512;
        if (bench::FileSize(iso) != sectors * 2048) bench::WriteIso(iso, sectors);
        if (bench::FileSize(m.raw) != sectors * 2352) bench::WriteMode1Raw(iso, m.raw);
        m.bytes = sectors * 2352;
        bench::Warm(m.raw);
        return m;
    }();
    return image;
}

void BM_md5sum(benchmark::State &state) {
    const Image &m = GetImage();
    for (auto _ : state) bench::Run("md5sum '" + m.raw + "' > /dev/null");
    state.SetBytesProcessed(state.iterations() * m.bytes);
}

void BM_verify(benchmark::State &state) {
    const Image &m = GetImage();
    for (auto _ : state) {
        int32_t error = 0;
        QorvexHandle h = QorvexOpen(m.raw.c_str(), OPEN_EXTENSIONS, &error);
        if (!h) {
            state.SkipWithError("open failed");
            return;
        }
        host::RawAccess access{h, QorvexGetTrackCount, QorvexGetTrackInfo, QorvexExGetRawSectorSize,
                               QorvexExReadRawSectors};
        const host::DiscScan scan = host::ScanDisc(access, {});
        QorvexClose(h);
        if (!scan.Good()) {
            state.SkipWithError("the image did not verify");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * m.bytes);
}

}  // namespace

BENCHMARK(BM_md5sum)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_verify)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    return bench::RunWithRatios(argc, argv, "BM_md5sum");
}
