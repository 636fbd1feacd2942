#!/usr/bin/env bash
# Builds the program for WebAssembly with Debian's emscripten into build-web/
# and gathers the page a browser plays in build-web/dist/: index.html,
# fluid.js, fluid.wasm and Metaball.png, static files any web server can
# host. Installs what it needs first; zlib and libpng for wasm are built once
# from Debian's sources (scripts/wasm-deps.sh, cached in
# /var/cache/ferrumkit-wasm/). Build-time generators run under node.
#
#   bash scripts/web.sh            build the page
#   bash scripts/web.sh --serve    build it, then serve it on http://127.0.0.1:8000/
#
# Extra targets to build may follow as arguments ("suites": every suite, as
# the test stage asks); FK_WEB_TARGETS_ONLY=1 builds only those.
set -euo pipefail
cd "$(dirname "$0")/.."

serve=0
targets=()
for arg in "$@"; do
  case "$arg" in
    --serve) serve=1 ;;
    -*) echo "usage: bash scripts/web.sh [--serve] [TARGET...]" >&2; exit 2 ;;
    *) targets+=("$arg") ;;
  esac
done

source scripts/packages.sh
ensure_packages emscripten binaryen cmake ninja-build dpkg-dev googletest
command -v node >/dev/null || { echo "web.sh: node is needed to build (generators) and to serve" >&2; exit 1; }

# Debian's emcc finds its JavaScript modules only here.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
bash scripts/wasm-deps.sh
prefix=${FK_WASM_CACHE:-/var/cache/ferrumkit-wasm}/prefix

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
emcmake cmake -S . -B build-web -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$(command -v node);--no-experimental-fetch" \
  -DZLIB_INCLUDE_DIR="$prefix/include" -DZLIB_LIBRARY="$prefix/lib/libz.a" \
  -DPNG_PNG_INCLUDE_DIR="$prefix/include" -DPNG_LIBRARY="$prefix/lib/libpng16.a" >/dev/null
# "suites" stands for every suite the web build registers with CTest (each
# suite's target has its test's name).
expanded=()
for target in "${targets[@]}"; do
  if [ "$target" = suites ]; then
    expanded+=($(ctest --test-dir build-web -N | sed -n 's/^ *Test *#[0-9]*: //p'))
  else
    expanded+=("$target")
  fi
done
targets=("${expanded[@]}")
if [ "${FK_WEB_TARGETS_ONLY:-0}" != 1 ]; then targets=(fluid "${targets[@]}"); fi
cmake --build build-web -j "${FK_JOBS:-2}" --target "${targets[@]}"

if [ "${FK_WEB_TARGETS_ONLY:-0}" != 1 ]; then
  dist=build-web/dist
  rm -rf "$dist"
  mkdir -p "$dist"
  cp app/web/index.html build-web/app/fluid.js build-web/app/fluid.wasm build-web/app/Metaball.png "$dist/"
  echo "The page is in $dist (open it through a web server: bash scripts/web.sh --serve)"
fi
if [ "$serve" = 1 ]; then
  exec node scripts/web-serve.js --root build-web/dist --port "${FK_WEB_PORT:-8000}"
fi
