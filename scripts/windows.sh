#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 into build-win/ and
# gathers what a Windows user needs (fluid.exe, fluid-bench.exe,
# events-logger.exe, Metaball.png and the DLLs they load) in build-win/dist/,
# zipped as build-win/fluid-windows.zip. Installs what it needs first.
# Build-time generators run under Wine (prefix build-win/wineprefix).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh

PACKAGES=(mingw-w64 libz-mingw-w64-dev googletest dpkg-dev wine wine64 zip cmake ninja-build xvfb)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Run as root: apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

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
(cd "$dist" && zip -q -r ../fluid-windows.zip .)
echo "Windows programs in $dist, zipped as build-win/fluid-windows.zip"
