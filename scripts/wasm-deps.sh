#!/usr/bin/env bash
# Builds zlib and libpng for WebAssembly with Debian's emscripten from
# Debian's own source packages and installs them under a cache prefix outside
# the clone (default /var/cache/ferrumkit-wasm/prefix), so later builds on the
# same machine reuse them. A library is rebuilt only when its stamp is
# missing. Both are compiled source by source: zlib's dfsg tarball lacks a
# file its CMake build wants, and libpng needs only its prebuilt
# configuration header.
set -euo pipefail

cache=${FK_WASM_CACHE:-/var/cache/ferrumkit-wasm}
prefix=$cache/prefix
here=$(cd "$(dirname "$0")/.." && pwd)
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
# The same floating-point rule as the tree; static archives only.
cflags=(-O2 -ffp-contract=off -fno-fast-math)

stamp() { echo "$prefix/.built-$1"; }
if [ -f "$(stamp zlib)" ] && [ -f "$(stamp libpng)" ]; then exit 0; fi

deps_name=wasm-deps
source "$here/scripts/debian-source.sh"

mkdir -p "$prefix"/{lib,include}

# Compiles the named C files of src into objdir and archives them as lib.
compile_archive() {
  local src=$1 objdir=$2 lib=$3; shift 3
  rm -rf "$objdir"; mkdir -p "$objdir"
  local file objects=()
  for file in "$@"; do
    emcc "${cflags[@]}" -I"$src" -I"$prefix/include" -c "$src/$file" -o "$objdir/${file%.c}.o"
    objects+=("$objdir/${file%.c}.o")
  done
  rm -f "$prefix/lib/$lib"
  emar rcs "$prefix/lib/$lib" "${objects[@]}"
}

build_zlib() {
  local src
  src=$(fetch_source zlib "$cache/src/zlib")
  # What zlib's configure would find: the POSIX header for lseek and friends.
  cflags+=(-DHAVE_UNISTD_H -DHAVE_STDARG_H)
  compile_archive "$src" "$cache/build/zlib" libz.a \
    adler32.c compress.c crc32.c deflate.c gzclose.c gzlib.c gzread.c gzwrite.c \
    infback.c inffast.c inflate.c inftrees.c trees.c uncompr.c zutil.c
  cp "$src/zlib.h" "$src/zconf.h" "$prefix/include/"
  cflags=("${cflags[@]:0:3}")
  touch "$(stamp zlib)"
}

build_libpng() {
  local src
  src=$(fetch_source libpng1.6 "$cache/src/libpng")
  cp "$src/scripts/pnglibconf.h.prebuilt" "$src/pnglibconf.h"
  compile_archive "$src" "$cache/build/libpng" libpng16.a \
    png.c pngerror.c pngget.c pngmem.c pngpread.c pngread.c pngrio.c pngrtran.c \
    pngrutil.c pngset.c pngtrans.c pngwio.c pngwrite.c pngwtran.c pngwutil.c
  ln -sf libpng16.a "$prefix/lib/libpng.a"
  cp "$src/png.h" "$src/pngconf.h" "$src/pnglibconf.h" "$prefix/include/"
  touch "$(stamp libpng)"
}

command -v emcc >/dev/null || { echo "wasm-deps: emcc not found (Debian package emscripten)" >&2; exit 1; }
[ -f "$(stamp zlib)" ] || build_zlib
[ -f "$(stamp libpng)" ] || build_libpng
echo "wasm libraries ready in $prefix"
