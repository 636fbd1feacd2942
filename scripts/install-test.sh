#!/usr/bin/env bash
# The install stage of the test command, on the normal build in build/ (the
# stage before it): installs to a temporary prefix and with DESTDIR and starts
# the installed program; checks the desktop entry, the manual pages and that
# every installed header compiles on its own; builds the examples out of the
# tree against the installed CMake package (and one through pkg-config) and
# starts them; makes the Debian packages and checks their contents, an
# unpacked program and lintian; and uninstalls. The programs open their
# windows on a private Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
if [ ! -x build/app/fluid ] || [ ! -f build/CMakeCache.txt ]; then
  echo "install-test: no normal build in build/ (run the normal build first)" >&2
  exit 1
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)

tmp=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" >/dev/null 2>&1 &
xvfb=$!
cleanup() { kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -rf "$tmp"; }
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
if [ ! -s "$tmp/display" ]; then echo "install-test: Xvfb did not start" >&2; exit 1; fi
export DISPLAY=":$(head -n1 "$tmp/display")" LIBGL_ALWAYS_SOFTWARE=1

passed=0 failed=0
# check NAME COMMAND...: runs one check, which says why when it fails. The
# check runs in the background so that set -e holds inside it (a condition
# would switch it off).
check() {
  local name=$1; shift
  ( set -e; "$@" ) >"$tmp/check.log" 2>&1 &
  if wait $!; then
    passed=$((passed + 1)); echo "ok   $name"
  else
    failed=$((failed + 1)); echo "FAIL $name"; sed 's/^/     /' "$tmp/check.log"
  fi
}
die() { echo "$*"; return 1; }
# The files and links under a folder, relative to it, sorted.
listing() { (cd "$1" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort); }
# Width and height of a PNG file from its header.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $3*256+$4 "x" $7*256+$8}'; }

# The program's first status line as the build tree's program prints it.
here=$PWD
expected_line=$(cd / && "$here/build/app/fluid" --frames 1)

prefix=$tmp/prefix
cmake --install build --prefix "$prefix" >/dev/null

installed_layout() {
  local f
  for f in lib/ferrumkit/fluid lib/ferrumkit/fluid-bench lib/ferrumkit/events-logger \
           lib/ferrumkit/Metaball.png share/applications/ferrumkit-fluid.desktop \
           share/man/man6/fluid.6.gz share/doc/ferrumkit/LICENSE share/doc/ferrumkit/FONT-LICENSE.txt \
           include/ferrumkit/sph/sph.h include/ferrumkit/graphics/gl/gl_graphics.h lib/libfk_sph.a \
           lib/cmake/Ferrumkit/FerrumkitConfig.cmake lib/cmake/Ferrumkit/FerrumkitConfigVersion.cmake \
           lib/pkgconfig/ferrumkit.pc; do
    [ -f "$prefix/$f" ] || die "missing $f"
  done
  for f in fluid fluid-bench events-logger; do
    [ "$(readlink "$prefix/bin/$f")" = "../lib/ferrumkit/$f" ] || die "bin/$f is not a link to ../lib/ferrumkit/$f"
  done
  for size in 48 128 256; do
    f=share/icons/hicolor/${size}x${size}/apps/ferrumkit-fluid.png
    [ "$(png_size "$prefix/$f")" = "${size}x${size}" ] || die "$f is not a $size pixel PNG"
  done
  cmp -s LICENSE "$prefix/share/doc/ferrumkit/LICENSE" || die "the installed LICENSE differs"
  # Internal headers stay in the tree.
  [ -z "$(find "$prefix/include" -name '*_internal.h' -o -name '*_host.h')" ] || die "internal headers installed"
}
check "install to a prefix: programs, links, image, icons, documents, library" installed_layout

versions() {
  local p
  for p in fluid fluid-bench events-logger; do
    [ "$("$prefix/bin/$p" --version)" = "$p $version" ] || die "$p --version: $("$prefix/bin/$p" --version)"
  done
}
check "the installed programs print version $version" versions

# Started through its link from elsewhere, the program finds its image.
runs_like_build() {
  local line
  line=$(cd / && "$1" --frames 1)
  [ "$line" = "$expected_line" ] || die "$1 printed '$line', the build's program '$expected_line'"
}
check "installed bin/fluid --frames 1 prints the build's status line" runs_like_build "$prefix/bin/fluid"

stage=$tmp/stage
DESTDIR=$stage cmake --install build --prefix /opt/ferrumkit >/dev/null
same_files_with_destdir() {
  diff <(listing "$prefix") <(listing "$stage/opt/ferrumkit") || die "DESTDIR install differs from the prefix install"
}
check "install with DESTDIR: the same files" same_files_with_destdir
check "DESTDIR install's bin/fluid --frames 1" runs_like_build "$stage/opt/ferrumkit/bin/fluid"

without_image() {
  rm "$stage/opt/ferrumkit/lib/ferrumkit/Metaball.png"
  local status=0
  (cd / && "$stage/opt/ferrumkit/bin/fluid" --frames 1) >"$tmp/out" 2>"$tmp/err" || status=$?
  [ "$status" = 1 ] || die "status $status, not 1"
  [ ! -s "$tmp/out" ] || die "stdout: $(cat "$tmp/out")"
  [ "$(wc -l <"$tmp/err")" = 1 ] || die "stderr is not one line: $(cat "$tmp/err")"
  grep -q "Metaball.png" "$tmp/err" || die "stderr does not name the image: $(cat "$tmp/err")"
}
check "installed fluid without its Metaball.png: one line, status 1" without_image

check "desktop-file-validate accepts the desktop entry" \
  desktop-file-validate "$prefix/share/applications/ferrumkit-fluid.desktop"

manual_pages() {
  local page
  for page in man6/fluid.6.gz man1/fluid-bench.1.gz man1/events-logger.1.gz; do
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/$page" >"$tmp/man" 2>"$tmp/man.err"
    [ ! -s "$tmp/man.err" ] || die "$page: $(cat "$tmp/man.err")"
    grep -q '^NAME' "$tmp/man" || die "$page has no NAME section"
  done
}
check "man -l renders the manual pages without warnings" manual_pages

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
headers_alone() {
  local flags
  flags=$(pkg-config --cflags ferrumkit)
  (cd "$prefix/include" && find ferrumkit -name '*.h') |
    xargs -P "$(nproc)" -I{} sh -c "echo '#include <{}>' | c++ -std=c++17 -fsyntax-only $flags -x c++ - || { echo 'not on its own: {}'; exit 255; }"
}
check "every installed header compiles on its own (pkg-config --cflags)" headers_alone

examples_out_of_tree() {
  cmake -S examples -B "$tmp/examples" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$tmp/examples" -j "$(nproc)" >/dev/null
  local e=$tmp/examples
  (cd / && "$e/hello_window" 5 && "$e/input_events" 5 &&
     "$e/show_png" "$prefix/share/icons/hicolor/48x48/apps/ferrumkit-fluid.png" 5) || die "an example failed"
  "$e/timer_ticks" 3 >"$tmp/ticks"
  [ "$(grep -c '^tick [123] on the main thread' "$tmp/ticks")" = 3 ] || die "timer_ticks printed: $(cat "$tmp/ticks")"
}
check "examples built out of tree with -DCMAKE_PREFIX_PATH, each run for a few frames" examples_out_of_tree

# A headless program needs only the modules it uses: no window, no GL.
single_modules() {
  mkdir -p "$tmp/headless"
  cat >"$tmp/headless/CMakeLists.txt" <<'END'
cmake_minimum_required(VERSION 3.25)
project(headless LANGUAGES CXX)
find_package(Ferrumkit 0.3 REQUIRED)
add_executable(headless main.cpp)
target_link_libraries(headless PRIVATE Ferrumkit::sph Ferrumkit::image)
END
  cat >"$tmp/headless/main.cpp" <<'END'
#include <ferrumkit/image/png.h>
#include <ferrumkit/sph/sph.h>
#include <cstdio>
int main(int, char** argv) {
    TSPH world;
    for (int i = 0; i < 10; ++i) world.AddParticle(400.0f + 5.25f * i, 300.0f);
    for (int i = 0; i < 5; ++i) world.Update();
    auto image = LoadPNGPixmap(argv[1]);
    std::printf("%d %dx%d\n", ParticleCount, image ? image->width : 0, image ? image->height : 0);
}
END
  cmake -S "$tmp/headless" -B "$tmp/headless/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$tmp/headless/build" >/dev/null
  ! ldd "$tmp/headless/build/headless" | grep -E 'libGL|libX11' || die "the headless program links GL or X11"
  local out
  out=$("$tmp/headless/build/headless" "$prefix/share/icons/hicolor/48x48/apps/ferrumkit-fluid.png")
  [ "$out" = "10 48x48" ] || die "headless program printed '$out'"
}
check "a headless program on Ferrumkit::sph and Ferrumkit::image alone" single_modules

with_pkg_config() {
  # shellcheck disable=SC2046
  c++ -std=c++17 examples/hello_window.cpp -o "$tmp/hello_pc" $(pkg-config --cflags --libs ferrumkit)
  "$tmp/hello_pc" 3
}
check "an example built through pkg-config runs" with_pkg_config

bash scripts/package.sh >"$tmp/packages"
fluid_deb=build/packages/ferrumkit-fluid_${version}_amd64.deb
dev_deb=build/packages/libferrumkit-dev_${version}_amd64.deb
packages_hold_the_install() {
  [ -f "$fluid_deb" ] && [ -f "$dev_deb" ] || die "packages made: $(cat "$tmp/packages")"
  { dpkg-deb -c "$fluid_deb"; dpkg-deb -c "$dev_deb"; } | awk '$1 !~ /^d/ {print $6}' |
    sed 's|^\./usr/||' | LC_ALL=C sort >"$tmp/deb-files"
  diff "$tmp/deb-files" <(listing "$prefix") || die "the packages differ from the install"
  dpkg-deb -f "$fluid_deb" Depends | grep -q 'libpng16' || die "no computed dependencies"
}
check "dpkg-deb -c of the two packages lists what the install lists" packages_hold_the_install
unpacked_program() {
  dpkg-deb -x "$fluid_deb" "$tmp/unpacked"
  runs_like_build "$tmp/unpacked/usr/bin/fluid"
}
check "the program unpacked from ferrumkit-fluid starts" unpacked_program
check "lintian finds no error in the packages" lintian --fail-on error "$fluid_deb" "$dev_deb"

uninstall() {
  cmake --install build --prefix "$tmp/again" >/dev/null
  xargs -d '\n' rm -f <build/install_manifest.txt
  [ -z "$(find "$tmp/again" ! -type d)" ] || die "left behind: $(find "$tmp/again" ! -type d)"
}
check "uninstalling with the install manifest removes every file" uninstall

echo "Install stage: $(( $(date +%s) - start )) s"
echo "install: $passed passed, $failed failed"
[ "$failed" = 0 ]
