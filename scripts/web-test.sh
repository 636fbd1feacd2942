#!/usr/bin/env bash
# The web stage of the test command: builds the page and the headless suites
# for WebAssembly (scripts/web.sh), runs the suites and fluid-bench under
# node, compares fluid-bench's --dump and --replay with the native program's
# bytes, and drives the page end to end in headless Chromium
# (tests/web/page_test.js, playwright-core pinned by
# tests/web/package-lock.json). The native
# comparisons need the normal build in build/ (the test command's first stage).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)

# The browser the page tests drive, and the X server of the native program.
source scripts/packages.sh
ensure_packages chromium xvfb

bash scripts/web.sh suites fluid_bench
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}

echo "== the suites under node"
ctest --test-dir build-web --output-on-failure -j "${FK_JOBS:-2}" --timeout 600

echo "== fluid-bench under node against the native fluid-bench"
native_bench=build/tools/fluid_bench/fluid-bench
web_bench=build-web/tools/fluid_bench/fluid-bench.js
for native in "$native_bench" build/app/fluid; do
  [ -x "$native" ] || { echo "web-test: no native $native (run the normal build first)" >&2; exit 1; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for scene in initial full; do
  for steps in 0 1 100 1000; do
    "$native_bench" --steps "$steps" --scene "$scene" --dump "$tmp/native.bin" >/dev/null
    node --no-experimental-fetch "$web_bench" --steps "$steps" --scene "$scene" --dump "$tmp/web.bin" >/dev/null
    if ! cmp -s "$tmp/native.bin" "$tmp/web.bin"; then
      echo "fluid-bench.js --dump differs from the native fluid-bench (scene $scene, $steps steps)" >&2
      exit 1
    fi
  done
  echo "fluid-bench --dump, scene $scene, after 0, 1, 100 and 1000 steps: wasm and native bytes equal"
done
# A recording made on Linux (pours, walls, Space, P, N, R played through the
# real program) replays under node to the same state.
recording=tests/app/data/pour-wall-pause-step-reset.rec
"$native_bench" --replay "$recording" --dump "$tmp/native-replay.bin" >/dev/null
node --no-experimental-fetch "$web_bench" --replay "$recording" --dump "$tmp/web-replay.bin" >/dev/null
if ! cmp -s "$tmp/native-replay.bin" "$tmp/web-replay.bin"; then
  echo "fluid-bench.js --replay differs from the native fluid-bench" >&2
  exit 1
fi
echo "fluid-bench --replay of a Linux recording: wasm and native bytes equal"

echo "== the page in headless Chromium"
# The native program draws its frame 100 on a private X server, with Mesa's
# software renderer, for the comparison with the page's.
display=90
while [ -e /tmp/.X11-unix/X$display ] || [ -e /tmp/.X$display-lock ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -rf "$tmp"' EXIT
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$display ] && break; sleep 0.05; done
(cd tests/web && npm ci --no-audit --no-fund --loglevel=error)
DISPLAY=":$display" LIBGL_ALWAYS_SOFTWARE=1 node --test --test-reporter=tap tests/web/page_test.js
echo "Web stage: $(( $(date +%s) - start )) s"
