#!/usr/bin/env bash
# Builds the simulation suite, the smooth-field suite and fluid-bench for
# WebAssembly with SIMD (the simd128 lane set) into build-wasm-lanes/ with
# Debian's em++, and runs the suites under node; with --bench, also times
# fluid-bench there (extra arguments go to it). A stand-alone check of the
# WebAssembly lane set, independent of the web build: built with threads
# (a pool of two workers), so that the step runs on one thread or two as
# natively, and with the build's numeric rules (no contraction, no fast math).
set -euo pipefail
cd "$(dirname "$0")/.."

OUT=build-wasm-lanes
BENCH=0
if [ "${1:-}" = "--bench" ]; then
  BENCH=1
  shift
fi
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
GTEST=/usr/src/googletest/googletest
FLAGS=(-O2 -g0 -std=c++17 -pthread -msimd128 -ffp-contract=off -fno-fast-math -fexceptions -Wall -Wextra
       -I. -I"$GTEST/include" -I"$GTEST")
LINK=(-pthread -sPTHREAD_POOL_SIZE=2 -Wno-pthreads-mem-growth -msimd128 -fexceptions -sALLOW_MEMORY_GROWTH=1 -sENVIRONMENT=node -sEXIT_RUNTIME=1)

SPH=(sph/particle.cpp sph/sph.cpp sph/lane_set.cpp sph/pair_search.cpp sph/passes.cpp sph/kernels_avx2.cpp
     sph/kernels_avx512.cpp sph/kernels_simd128.cpp sph/step_worker.cpp sph/reference/reference_sph.cpp
     app/scene.cpp)
RENDER=(render/smooth_fields.cpp render/smooth_sums_avx2.cpp render/smooth_sums_avx512.cpp
        render/smooth_sums_simd128.cpp render/fluid_renderer.cpp tests/render/reference_render.cpp)
GTEST_SRC=("$GTEST/src/gtest-all.cc" "$GTEST/src/gtest_main.cc")
SPH_TESTS=(tests/sph/particle_test.cpp tests/sph/world_test.cpp tests/sph/passes_test.cpp
           tests/sph/determinism_test.cpp tests/sph/step_worker_test.cpp)
BENCH_SRC=(tools/fluid_bench/main.cpp tools/fluid_bench/step_times.cpp runtime/tool.cpp)

# One object per source (two at a time), rebuilt when the source is newer.
compile() {
  local src=$1 obj
  obj="$OUT/obj/$(echo "$src" | tr '/' '_').o"
  if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ] || [ -n "$(find sph render tests/sph -name '*.h' -newer "$obj" | head -1)" ]; then
    em++ "${FLAGS[@]}" -c "$src" -o "$obj"
  fi
  echo "$obj"
}
export -f compile
export OUT
export FLAGS_STRING="${FLAGS[*]}"
mkdir -p "$OUT/obj"
objects() { for s in "$@"; do echo "$s"; done | xargs -P 2 -I{} bash -c 'FLAGS=($FLAGS_STRING); compile "$@"' _ {}; }

mapfile -t sph_o < <(objects "${SPH[@]}")
mapfile -t render_o < <(objects "${RENDER[@]}")
mapfile -t gtest_o < <(objects "${GTEST_SRC[@]}")
mapfile -t sph_tests_o < <(objects "${SPH_TESTS[@]}")
mapfile -t fields_o < <(objects tests/render/smooth_fields_test.cpp)
mapfile -t bench_o < <(objects "${BENCH_SRC[@]}")

em++ "${LINK[@]}" "${sph_tests_o[@]}" "${sph_o[@]}" "${gtest_o[@]}" -o "$OUT/sph_test.js"
# The renderer's draw calls are linked (never called: the suite only makes fields).
em++ "${LINK[@]}" -sLEGACY_GL_EMULATION=1 "${fields_o[@]}" "${render_o[@]}" "${sph_o[@]}" "${gtest_o[@]}" \
  -o "$OUT/render_fields_test.js"
# fluid-bench reads and writes the host's files (--dump), as natively.
em++ "${LINK[@]}" -sNODERAWFS=1 "${bench_o[@]}" "${sph_o[@]}" -o "$OUT/fluid-bench.js"

if [ "$BENCH" = 1 ]; then
  node --no-experimental-fetch "$OUT/fluid-bench.js" "$@"
  exit 0
fi
node --no-experimental-fetch "$OUT/sph_test.js"
node --no-experimental-fetch "$OUT/render_fields_test.js"
# The same state as the native build's, when there is one.
NATIVE=build/tools/fluid_bench/fluid-bench
if [ -x "$NATIVE" ]; then
  node --no-experimental-fetch "$OUT/fluid-bench.js" --steps 300 --threads 2 --dump "$OUT/state-wasm.bin" >/dev/null
  "$NATIVE" --steps 300 --threads 2 --dump "$OUT/state-native.bin" >/dev/null
  cmp "$OUT/state-wasm.bin" "$OUT/state-native.bin"
  echo "fluid-bench: the WebAssembly and native states after 300 steps are the same"
fi
