#!/usr/bin/env bash
# Builds libpng and GLEW for mingw-w64 from Debian's own source packages and
# installs them under a cache prefix outside the clone (default
# /var/cache/ferrumkit-mingw/prefix), so later builds on the same machine
# reuse them. A library is rebuilt only when its stamp is missing. zlib is
# Debian's libz-mingw-w64-dev. Nothing is fetched from anywhere but the
# Debian archive that apt is set up with.
set -euo pipefail

cache=${FK_MINGW_CACHE:-/var/cache/ferrumkit-mingw}
prefix=$cache/prefix
triple=x86_64-w64-mingw32
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=${FK_JOBS:-2}

stamp() { echo "$prefix/.built-$1"; }
if [ -f "$(stamp libpng)" ] && [ -f "$(stamp glew-2)" ]; then exit 0; fi

deps_name=mingw-deps
source "$here/scripts/debian-source.sh"

mkdir -p "$prefix"/{bin,lib,include}

build_libpng() {
  local src
  src=$(fetch_source libpng1.6 "$cache/src/libpng")
  cmake -S "$src" -B "$cache/build/libpng" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" -DFK_MINGW_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DPNG_SHARED=ON -DPNG_STATIC=OFF -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DZLIB_ROOT=/usr/$triple -Wno-dev >/dev/null
  cmake --build "$cache/build/libpng" -j "$jobs" >/dev/null
  cmake --install "$cache/build/libpng" >/dev/null
  touch "$(stamp libpng)"
}

# GLEW's release sources carry the generated glew.c: one DLL and its import
# library, named glew32.lib as CMake's FindGLEW looks for a Windows GLEW.
build_glew() {
  local src
  src=$(fetch_source glew "$cache/src/glew")
  # Linked as GLEW links itself on mingw: without the C start-up files (glew.c
  # brings its own DLL entry point).
  $triple-gcc-posix -O2 -DGLEW_BUILD -DGLEW_NO_GLU -I"$src/include" -shared -nostdlib \
    -o "$prefix/bin/glew32.dll" "$src/src/glew.c" \
    -Wl,--out-implib,"$prefix/lib/glew32.lib" -lopengl32 -lgdi32 -luser32 -lkernel32 -lmsvcrt
  mkdir -p "$prefix/include/GL"
  cp "$src"/include/GL/{glew.h,wglew.h} "$prefix/include/GL/"
  touch "$(stamp glew-2)"
}

[ -f "$(stamp libpng)" ] || build_libpng
[ -f "$(stamp glew-2)" ] || build_glew
echo "mingw libraries ready in $prefix"
