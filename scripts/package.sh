#!/usr/bin/env bash
# Builds the Debian packages: ferrumkit-fluid_<version>_amd64.deb (the
# program, its image, the desktop entry, the icon, the manual pages and the
# licences) and libferrumkit-dev_<version>_amd64.deb (headers, static
# libraries, the CMake package and the pkg-config file), made by CPack from
# the normal build in build/ (configured first when missing) into
# build/packages/. Prints the packages' paths.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
[ -f build/CMakeCache.txt ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
rm -rf build/packages
if ! (cd build && cpack -G DEB -B "$PWD/packages") >build/cpack.log 2>&1; then
  cat build/cpack.log >&2
  exit 1
fi
ls "$PWD"/build/packages/*.deb
