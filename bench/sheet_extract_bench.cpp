// Extracting every track of a multi-track BIN/CUE disc (the data track's user data as an ISO, every audio
// track as a WAV) against bchunk -w on the same sheet, in one run.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "qorvex.h"

namespace {

constexpr int kAudioTracks = 8;

struct Disc {
    std::string dir, bin, cue, out;
    int64_t bytes = 0;  // bytes both contenders write
};

// Writes `sectors` sectors of CD audio (a pattern) to the end of `path`.
void AppendAudio(const std::string &path, int64_t sectors, uint32_t seed) {
    FILE *f = std::fopen(path.c_str(), "ab");
    if (!f) std::abort();
    std::vector<uint8_t> block(2352 * 75);
    uint32_t x = seed * 2654435761u + 1;
    for (int64_t done = 0; done < sectors; done += 75) {
        for (uint8_t &b : block) b = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
        const int64_t n = std::min<int64_t>(75, sectors - done);
        if (std::fwrite(block.data(), 2352, static_cast<size_t>(n), f) != static_cast<size_t>(n)) std::abort();
    }
    std::fclose(f);
}

std::string Msf(int64_t frames) {
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(frames / 4500),
                  static_cast<long long>(frames / 75 % 60), static_cast<long long>(frames % 75));
    return text;
}

const Disc &GetDisc() {
    static Disc disc = [] {
        Disc d;
        const char *mib_env = std::getenv("QORVEX_BENCH_MIB");
        const int64_t mib = mib_env ? std::atoll(mib_env) : 1024;
        d.dir = bench::ScratchDir() + "/sheet-" + std::to_string(mib);
        bench::Run("mkdir -p '" + d.dir + "'");
        d.bin = d.dir + "/disc.bin";
        d.cue = d.dir + "/disc.cue";
        d.out = d.dir + "/out";
        // Half the size a data track, half audio in equal tracks.
        const int64_t data_sectors = mib * 512 / 2;
        const int64_t audio_sectors = mib * 1024 * 1024 / 2 / 2352 / kAudioTracks;
        const int64_t total = data_sectors * 2352 + audio_sectors * kAudioTracks * 2352;
        std::string cue = "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n";
        for (int t = 0; t < kAudioTracks; ++t) {
            char track[64];
            std::snprintf(track, sizeof track, "  TRACK %02d AUDIO\n    INDEX 01 ", t + 2);
            cue += track + Msf(data_sectors + t * audio_sectors) + "\n";
        }
        if (bench::FileSize(d.bin) != total) {
            const std::string iso = d.dir + "/data.iso";
            bench::WriteIso(iso, data_sectors);
            bench::WriteMode1Raw(iso, d.bin);
            ::unlink(iso.c_str());
            for (int t = 0; t < kAudioTracks; ++t) AppendAudio(d.bin, audio_sectors, static_cast<uint32_t>(t + 1));
        }
        if (FILE *f = std::fopen(d.cue.c_str(), "w")) {
            std::fputs(cue.c_str(), f);
            std::fclose(f);
        }
        d.bytes = data_sectors * 2048 + kAudioTracks * (44 + audio_sectors * 2352);
        bench::Warm(d.bin);
        return d;
    }();
    return disc;
}

void Clean(const Disc &d) {
    bench::Run("rm -rf '" + d.out + "' && mkdir -p '" + d.out + "'");
}

void BM_bchunk_w(benchmark::State &state) {
    const Disc &d = GetDisc();
    for (auto _ : state) {
        state.PauseTiming();
        Clean(d);
        state.ResumeTiming();
        bench::Settle(state);
        bench::Run("bchunk -w '" + d.bin + "' '" + d.cue + "' '" + d.out + "/track' > /dev/null");
    }
    state.SetBytesProcessed(state.iterations() * d.bytes);
}

void BM_qorvex_sheet(benchmark::State &state) {
    const Disc &d = GetDisc();
    for (auto _ : state) {
        state.PauseTiming();
        Clean(d);
        state.ResumeTiming();
        bench::Settle(state);
        int32_t error = 0;
        QorvexHandle h = QorvexOpen(d.cue.c_str(), OPEN_DISC_SHEETS, &error);
        if (!h) {
            state.SkipWithError("open failed");
            return;
        }
        int32_t result = QorvexExtractTrack(h, 0, (d.out + "/track01.iso").c_str(), 0);
        for (int t = 1; t <= kAudioTracks && result == 0; ++t) {
            char name[32];
            std::snprintf(name, sizeof name, "/track%02d.wav", t + 1);
            result = QorvexExtractTrack(h, t, (d.out + name).c_str(), TRACK_RAW | TRACK_WAV);
        }
        QorvexClose(h);
        if (result != 0) {
            state.SkipWithError("extraction failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * d.bytes);
}

}  // namespace

BENCHMARK(BM_bchunk_w)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_qorvex_sheet)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    return bench::RunWithRatios(argc, argv, "BM_bchunk_w");
}
