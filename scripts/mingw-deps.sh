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

# apt-get source needs deb-src entries; add them beside Debian's own when none exist.
ensure_deb_src() {
  if grep -rqs -E '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then return; fi
  local src=/etc/apt/sources.list.d/debian.sources out=/etc/apt/sources.list.d/ferrumkit-deb-src.sources
  if [ -f "$src" ]; then
    sed -e 's/^Types:.*/Types: deb-src/' "$src" > "$out"
  elif [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > /etc/apt/sources.list.d/ferrumkit-deb-src.list
  else
    echo "mingw-deps: no Debian sources to derive deb-src entries from" >&2; exit 1
  fi
  apt-get update -qq
}

# Downloads a source package (the newest version the archive will hand out)
# and unpacks it once; prints the unpacked directory.
fetch_source() {
  local package=$1 work=$2
  mkdir -p "$work"
  if [ ! -d "$work/src" ]; then
    apt-cache showsrc "$package" 2>/dev/null | grep -q '^Version:' || ensure_deb_src
    local version got=""
    for version in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -V -r); do
      if (cd "$work" && apt-get source -qq --download-only "$package=$version") >/dev/null 2>&1; then
        got=$version; break
      fi
    done
    [ -n "$got" ] || { echo "mingw-deps: could not download the source of $package" >&2; exit 1; }
    (cd "$work" && dpkg-source --no-check -x "$(ls ./*.dsc | head -1)" src) >/dev/null
  fi
  echo "$work/src"
}

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
