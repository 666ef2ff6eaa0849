// Track extraction throughput (user data from 2048-byte and 2352-byte Mode 1 images, with and without the
// EDC check) against cat and cp of the same image, in one run.
#include <unistd.h>
#include <cstdlib>
#include <string>

#include "bench_support.h"
#include "qorvex.h"

namespace {

struct Images {
    std::string iso, raw, out;
    int64_t bytes = 0;
};

const Images &GetImages() {
    static Images images = [] {
        Images m;
        const char *mib_env = std::getenv("QORVEX_BENCH_MIB");
        const int64_t mib = mib_env ? std::atoll(mib_env) : 1024;
        const std::string dir = bench::ScratchDir();
        m.iso = dir + "/track-" + std::to_string(mib) + ".iso";
        m.raw = dir + "/track-" + std::to_string(mib) + ".bin";
        m.out = dir + "/track-out.bin";
        const int64_t sectors = mib * 512;
        if (bench::FileSize(m.iso) != sectors * 2048) bench::WriteIso(m.iso, sectors);
        if (bench::FileSize(m.raw) != sectors * 2352) bench::WriteMode1Raw(m.iso, m.raw);
        m.bytes = sectors * 2048;
        bench::Warm(m.iso);
        bench::Warm(m.raw);
        return m;
    }();
    return images;
}

void Extract(benchmark::State &state, const std::string &image, uint32_t options) {
    const Images &m = GetImages();
    for (auto _ : state) {
        bench::Settle(state);
        int32_t error = 0;
        QorvexHandle h = QorvexOpen(image.c_str(), options, &error);
        if (!h) {
            state.SkipWithError("open failed");
            return;
        }
        const int32_t result = QorvexExtractTrack(h, 0, m.out.c_str(), 0);
        QorvexClose(h);
        ::unlink(m.out.c_str());
        if (result != 0) {
            state.SkipWithError("extraction failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * m.bytes);
}

void BM_cp_2048(benchmark::State &state) {
    const Images &m = GetImages();
    for (auto _ : state) {
        bench::Settle(state);
        bench::Run("cp '" + m.iso + "' '" + m.out + "'");
        ::unlink(m.out.c_str());
    }
    state.SetBytesProcessed(state.iterations() * m.bytes);
}

void BM_cat_2048(benchmark::State &state) {
    const Images &m = GetImages();
    for (auto _ : state) bench::Run("cat '" + m.iso + "' > /dev/null");
    state.SetBytesProcessed(state.iterations() * m.bytes);
}

void BM_cat_2352(benchmark::State &state) {
    const Images &m = GetImages();
    for (auto _ : state) bench::Run("cat '" + m.raw + "' > /dev/null");
    state.SetBytesProcessed(state.iterations() * m.bytes);
}

void BM_extract_user_data_2048(benchmark::State &state) {
    Extract(state, GetImages().iso, 0);
}
void BM_extract_user_data_2352(benchmark::State &state) {
    Extract(state, GetImages().raw, 0);
}
void BM_extract_user_data_2352_edc(benchmark::State &state) {
    Extract(state, GetImages().raw, OPEN_CHECK_EDC);
}

}  // namespace

BENCHMARK(BM_cp_2048)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_cat_2048)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_cat_2352)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_extract_user_data_2048)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_extract_user_data_2352)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_extract_user_data_2352_edc)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    return bench::RunWithRatios(argc, argv, "BM_cp_2048");
}
