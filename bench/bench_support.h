// Shared pieces of the benchmarks: scratch images, timing of peer commands, and the ratio report.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bench {

// Folder for generated images: $QORVEX_BENCH_DIR, else a folder under /tmp (made once, kept between runs).
std::string ScratchDir();
bool Exists(const std::string &path);
// Runs a command line through /bin/sh; aborts the benchmark run when it fails.
void Run(const std::string &command);
// A minimal ISO 9660 image of `sectors` 2048-byte sectors (an empty root), the rest filled with a pattern.
void WriteIso(const std::string &path, int64_t sectors);
// The same sectors stored as 2352-byte Mode 1 sectors with sync, header, a correct EDC and P/Q parity.
void WriteMode1Raw(const std::string &iso, const std::string &raw);
// Drops the page cache's copy of nothing: reads a file once so every contender starts from a warm cache.
void Warm(const std::string &path);
int64_t FileSize(const std::string &path);
// Outside the timed region: writes back what earlier contenders left dirty, so that no contender pays for the
// write-back of another.
void Settle(benchmark::State &state);

// Runs the registered benchmarks, then prints each result's time relative to the named baseline (the median's
// when repeated); `seconds`, when given, receives each benchmark's time by name.
int RunWithRatios(int argc, char **argv, const std::string &baseline, std::map<std::string, double> *seconds = nullptr);

}  // namespace bench
