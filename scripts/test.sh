#!/usr/bin/env bash
# Builds everything and runs the whole suite twice: a normal optimised build
# (followed by its install stage: install, packages, examples out of tree),
# then an AddressSanitizer + UndefinedBehaviorSanitizer build; then the
# simulation's suites and fluid-bench (the code that runs on two threads)
# under ThreadSanitizer; then the Windows stage under Wine and the web stage
# under node and headless Chromium.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

jobs=$(nproc)
suites=0
build_and_test() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
  suites=$((suites + $(ctest --test-dir "$dir" -N | sed -n 's/^Total Tests: //p')))
}

echo "== normal build"
build_and_test build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== install, Debian packages and the examples against the installed library"
bash scripts/install-test.sh
suites=$((suites + 1))
echo "== sanitizer build (ASan + UBSan)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  build_and_test build-asan -DCMAKE_BUILD_TYPE=Debug -DFK_SANITIZE=ON
echo "== thread sanitizer build (simulation and fluid-bench only)"
tsan_tests='^(sph_test|tools_fluid_bench_test)$'
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFK_SANITIZE_THREAD=ON
cmake --build build-tsan -j "$jobs" --target sph_test fluid_bench tools_fluid_bench_test
TSAN_OPTIONS=halt_on_error=1:abort_on_error=1 ctest --test-dir build-tsan --output-on-failure -j "$jobs" -R "$tsan_tests"
suites=$((suites + $(ctest --test-dir build-tsan -N -R "$tsan_tests" | sed -n 's/^Total Tests: //p')))
if [ -x scripts/fuzz-smoke.sh ] || [ -f scripts/fuzz-smoke.sh ]; then
  echo "== fuzz smoke"
  bash scripts/fuzz-smoke.sh
fi
echo "== Windows build under Wine"
windows_start=$(date +%s)
bash scripts/windows-test.sh
suites=$((suites + $(ctest --test-dir build-win -N | sed -n 's/^Total Tests: //p')))
echo "Windows stage took $(( $(date +%s) - windows_start )) s"
echo "== web build under node and headless Chromium"
web_start=$(date +%s)
bash scripts/web-test.sh
suites=$((suites + $(ctest --test-dir build-web -N | sed -n 's/^Total Tests: //p') + 1))
echo "Web stage took $(( $(date +%s) - web_start )) s"
echo "All builds and suites passed."
echo "suites: $suites passed, 0 failed"
