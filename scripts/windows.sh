#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 into build-win/ and
# gathers what a Windows user needs (fluid.exe, fluid-bench.exe,
# events-logger.exe, Metaball.png, the DLLs they load, their licences in
# LICENSES/ and a README.txt) in build-win/dist/,
# zipped as build-win/fluid-windows.zip. Installs what it needs first.
# Build-time generators run under Wine (prefix build-win/wineprefix).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh

source scripts/packages.sh
ensure_packages mingw-w64 libz-mingw-w64-dev googletest dpkg-dev wine wine64 zip unzip cmake ninja-build xvfb

bash scripts/mingw-deps.sh

cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DFK_MINGW_PREFIX="$FK_MINGW_PREFIX"
cmake --build build-win -j "${FK_JOBS:-2}"

# The folder a user unpacks: the programs, the sprite beside fluid.exe, and
# every DLL they load that Windows does not bring.
dist=build-win/dist
rm -rf "$dist" build-win/fluid-windows.zip
mkdir -p "$dist"
for exe in app/fluid.exe tools/fluid_bench/fluid-bench.exe tools/events_logger/events-logger.exe; do
  if [ -f "build-win/$exe" ]; then
    cp "build-win/$exe" "$dist/"
  else
    echo "windows.sh: $exe was not built (its sources are not in this tree yet)" >&2
  fi
done
# Debugging symbols stay in build-win/; the user's copies go without.
x86_64-w64-mingw32-strip "$dist"/*.exe
cp build-win/assets/Metaball.png "$dist/"
cp "$FK_MINGW_PREFIX/bin/libpng16.dll" "$FK_MINGW_PREFIX/bin/glew32.dll" \
   /usr/x86_64-w64-mingw32/lib/zlib1.dll /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$dist/"

# The licences of everything in the folder, from the Debian packages it was
# built from: GLEW's and libpng's source packages (unpacked by mingw-deps.sh),
# the copyright files of libz-mingw-w64 and of mingw-w64-x86-64-dev (only its
# winpthreads parts: the files and the licence texts they name), and the
# built-in font's Terminus licence from the tree. Text files get Windows line ends.
windows_text() { sed 's/\r*$/\r/' "$1" > "$2"; }
mingw_sources=${FK_MINGW_CACHE:-/var/cache/ferrumkit-mingw}/src  # as scripts/mingw-deps.sh keeps them
licence_sources=("$mingw_sources/glew/src/LICENSE.txt" "$mingw_sources/libpng/src/LICENSE"
                 /usr/share/doc/libz-mingw-w64/copyright /usr/share/doc/mingw-w64-x86-64-dev/copyright)
for f in "${licence_sources[@]}"; do
  [ -s "$f" ] || { echo "windows.sh: licence text $f is missing" >&2; exit 1; }
done
mkdir -p "$dist/LICENSES"
windows_text LICENSE "$dist/LICENSES/Ferrumkit.txt"
windows_text graphics/gl/FONT-LICENSE.txt "$dist/LICENSES/Terminus-Font.txt"
windows_text "${licence_sources[0]}" "$dist/LICENSES/GLEW.txt"
windows_text "${licence_sources[1]}" "$dist/LICENSES/libpng.txt"
windows_text "${licence_sources[2]}" "$dist/LICENSES/zlib.txt"
{
  echo "winpthreads (libwinpthread-1.dll), from Debian's mingw-w64 package"
  echo "(its copyright file, the parts that cover winpthreads)"
  echo
  awk 'BEGIN { RS = ""; FS = "\n" }
       NR == FNR {
         if ($1 ~ /^Files:/ && $0 ~ /winpthreads\// && $0 !~ /tests_pthread/) {
           print $0 "\n"
           for (i = 1; i <= NF; i++) if ($i ~ /^License:/) { sub(/^License: */, "", $i); named[$i] = 1 }
         }
         next
       }
       $1 ~ /^License:/ { name = $1; sub(/^License: */, "", name); if (name in named) print $0 "\n" }' \
    "${licence_sources[3]}" "${licence_sources[3]}"
} > "$dist/LICENSES/winpthreads.tmp"
windows_text "$dist/LICENSES/winpthreads.tmp" "$dist/LICENSES/winpthreads.txt"
rm "$dist/LICENSES/winpthreads.tmp"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-win/CMakeCache.txt)
sed "s/@VERSION@/$version/" packaging/README-windows.txt > "$dist/README.tmp"
windows_text "$dist/README.tmp" "$dist/README.txt"
rm "$dist/README.tmp"
(cd "$dist" && zip -q -r ../fluid-windows.zip .)
echo "Windows programs in $dist, zipped as build-win/fluid-windows.zip"
