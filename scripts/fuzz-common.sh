# Shared by scripts/fuzz-smoke, scripts/fuzz-long and scripts/fuzz-coverage (sourced from the source root).
# A target is a file fuzz/fuzz_<name>.cpp; one that includes fuzz_common.h drives the whole pipeline (a file,
# QorvexOpen, extraction), every other one is a parser-level target on bytes in memory.

# The targets of one kind: parser, pipeline or all.
fuzz_targets() {
  local source name
  for source in fuzz/fuzz_*.cpp; do
    name=$(basename "$source" .cpp)
    [ "$name" = fuzz_common ] && continue
    if grep -q '#include "fuzz_common.h"' "$source"; then
      [ "$1" = parser ] && continue
    else
      [ "$1" = pipeline ] && continue
    fi
    echo "$name"
  done
}

# Builds the targets and makes the seeds from the current builders (the seed maker is rebuilt first).
fuzz_prepare() {
  local jobs
  jobs="$(nproc)"
  cmake -S fuzz -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  ninja -C build/fuzz -j"$jobs" >/dev/null
  [ -f build/build.ninja ] || cmake -S . -B build -G Ninja >/dev/null
  ninja -C build qorvex_make_seeds >/dev/null
  rm -rf build/fuzz/seeds
  build/bin/qorvex_make_seeds build/fuzz/seeds
}

# Runs one target for SECONDS over its corpus (build/fuzz/corpus/<target>, the seeds added) with the extra
# libFuzzer arguments after it. A finding is kept under fuzz/regressions/<target>/ and fails the call.
fuzz_run() {
  local target="$1" seconds="$2"
  shift 2
  local corpus="build/fuzz/corpus/$target" artifacts="build/fuzz/artifacts/$target"
  rm -rf "$artifacts"
  mkdir -p "$corpus" "$artifacts"
  cp -n build/fuzz/seeds/"$target"/* "$corpus"/ 2>/dev/null || true
  # Memory: an open of a 2 MiB input may keep about 96 MiB (the engine's budget) plus one 64 MiB read; a limit
  # well under the 1 GiB an amplifying image once took catches any structure the budget misses.
  # The CPU time it took is kept beside the log: on a shared machine inputs per CPU second say more about the
  # target than inputs per second of the clock.
  if ASAN_OPTIONS=quarantine_size_mb=64 nice -n 10 /usr/bin/time -f '%U %S' -o "build/fuzz/$target.time" \
      build/fuzz/bin/"$target" -max_total_time="$seconds" \
      -max_len=2097152 -rss_limit_mb=768 -malloc_limit_mb=256 -timeout=20 -dict=fuzz/qorvex.dict \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$@" "$corpus" > "build/fuzz/$target.log" 2>&1; then
    return 0
  fi
  mkdir -p "fuzz/regressions/$target"
  cp "$artifacts"/* "fuzz/regressions/$target/" 2>/dev/null || true
  return 1
}

# Minimizes a target's corpus: only inputs that add coverage are kept.
fuzz_merge() {
  local target="$1" corpus="build/fuzz/corpus/$1"
  rm -rf "$corpus.merged"
  mkdir -p "$corpus.merged"
  if nice -n 10 build/fuzz/bin/"$target" -merge=1 -rss_limit_mb=768 -malloc_limit_mb=256 -timeout=20 \
      "$corpus.merged" "$corpus" > "build/fuzz/$target.merge.log" 2>&1; then
    rm -rf "$corpus"
    mv "$corpus.merged" "$corpus"
  else
    rm -rf "$corpus.merged"
  fi
}

# One row of the table from a target's log and corpus: inputs run, inputs a second (of the clock, and of CPU
# time), coverage (edges), corpus files and bytes, findings.
fuzz_row() {
  local target="$1" log="build/fuzz/$1.log" runs rate cpu minutes cov files bytes findings
  runs=$(grep -o '^stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || true)
  rate=$(grep -o '^stat::average_exec_per_sec: [0-9]*' "$log" | grep -o '[0-9]*$' || true)
  # A run stopped by a finding prints no final stats: its last status line says how far it got.
  [ -n "$runs" ] || runs=$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#')
  [ -n "$rate" ] || rate=$(grep -o 'exec/s: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$')
  cpu=$(awk -v n="${runs:-0}" 'NF == 2 && $1 + $2 > 0 { printf "%d", n / ($1 + $2) }' "build/fuzz/$target.time" \
    2>/dev/null || true)
  minutes=$(awk 'NF == 2 { printf "%.1f", ($1 + $2) / 60 }' "build/fuzz/$target.time" 2>/dev/null || true)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$')
  files=$(find "build/fuzz/corpus/$target" -type f | wc -l)
  bytes=$(du -sb "build/fuzz/corpus/$target" | cut -f1)
  findings=$(find "build/fuzz/artifacts/$target" -type f | wc -l)
  printf '%-22s %10s %8s %8s %7s %7s %7s %10s %8s\n' "$target" "${runs:-?}" "${rate:-?}" "${cpu:-?}" \
    "${minutes:-?}" "${cov:-?}" "$files" "$bytes" "$findings"
}

fuzz_table_head() {
  printf '%-22s %10s %8s %8s %7s %7s %7s %10s %8s\n' target inputs 'inputs/s' '/cpu-s' cpu-min cov files bytes \
    findings
}
