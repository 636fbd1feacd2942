#!/usr/bin/env bash
# Builds the PNG loader fuzzer with clang (libFuzzer + ASan + UBSan) and runs
# it from a seed corpus of libpng-written files. Exits non-zero on a finding;
# the crashing input is left in build-fuzz/fuzz-artifacts/.
#   FUZZ_SECONDS  how long to run (default 60)
#   FUZZ_JOBS     build parallelism (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFK_BUILD_FUZZERS=ON -DFK_BUILD_TESTS=OFF -DFK_BUILD_TOOLS=OFF >/dev/null
cmake --build "$dir" --target fuzz_png_loader png_seed_writer -j "${FUZZ_JOBS:-2}"

seeds="$dir/fuzz-seeds/png"
corpus="$dir/fuzz-corpus/png"
artifacts="$dir/fuzz-artifacts/"
mkdir -p "$seeds" "$corpus" "$artifacts"
"$dir/fuzz/png_seed_writer" "$seeds"
# Earlier findings, kept as regression inputs, are replayed first.
if [ -d fuzz/regressions ] && [ -n "$(ls -A fuzz/regressions 2>/dev/null)" ]; then
  "$dir/fuzz/fuzz_png_loader" -runs=0 fuzz/regressions/*
fi
"$dir/fuzz/fuzz_png_loader" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=20 \
  -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "$seeds"
echo "fuzz smoke: no findings in ${seconds}s"
