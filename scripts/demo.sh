#!/usr/bin/env bash
# Builds the program and runs the demo (the liquid window, or the headless
# simulation benchmark while the window program is not there).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
if [ -x build/app/fluid ]; then
  exec build/app/fluid
fi
exec build/tools/fluid_bench/fluid-bench "$@"
