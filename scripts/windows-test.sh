#!/usr/bin/env bash
# The Windows stage of the test command: builds build-win/ (scripts/windows.sh)
# and runs its suites under Wine on a private Xvfb, Mesa's software renderer
# behind Wine's OpenGL. One Wine server serves the whole stage.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
bash scripts/windows.sh
source scripts/wine-env.sh

# The zip a Windows user unpacks: the programs, the sprite, the DLLs, the
# README and the licence of everything in it, each naming what it covers.
echo "== the Windows zip's files"
zip=build-win/fluid-windows.zip
expected="fluid.exe fluid-bench.exe events-logger.exe Metaball.png glew32.dll libpng16.dll zlib1.dll
  libwinpthread-1.dll README.txt LICENSES/Ferrumkit.txt LICENSES/GLEW.txt LICENSES/libpng.txt
  LICENSES/zlib.txt LICENSES/winpthreads.txt LICENSES/Terminus-Font.txt"
# shellcheck disable=SC2086
if ! diff <(zipinfo -1 "$zip" | grep -v '/$' | LC_ALL=C sort) <(printf '%s\n' $expected | LC_ALL=C sort); then
  echo "$zip does not hold the files it should (< the zip, > expected)" >&2
  exit 1
fi
while read -r file text; do
  if ! unzip -p "$zip" "$file" | grep -q "$text"; then
    echo "$zip: $file does not contain \"$text\"" >&2
    exit 1
  fi
done <<'END'
LICENSES/Ferrumkit.txt This notice may not be removed or altered
LICENSES/GLEW.txt The OpenGL Extension Wrangler Library
LICENSES/libpng.txt PNG Reference Library License
LICENSES/zlib.txt Jean-loup Gailly
LICENSES/winpthreads.txt mingw-w64-libraries/winpthreads
LICENSES/Terminus-Font.txt SIL OPEN FONT LICENSE Version 1.1
README.txt Escape, close box  ends the program
END
echo "$zip: the programs, the DLLs, README.txt and the six licence texts"

# A private X server on the first free display number from 90.
display=90
while [ -e /tmp/.X11-unix/X$display ] || [ -e /tmp/.X$display-lock ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
# One server kept between the suites (it ends a minute after the last);
# an already running one serves as well.
wineserver -p 60 2>/dev/null || true
# Our prefix's Wine processes end before their X server does.
cleanup() { wineserver -k 2>/dev/null || true; kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; }
trap cleanup EXIT
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$display ] && break; sleep 0.05; done
export DISPLAY=":$display"
export LIBGL_ALWAYS_SOFTWARE=1

# The prefix settles on this display once (Wine's first start is slow), so
# that no suite pays for it under its time-out.
timeout 300 wineboot -u >/dev/null 2>&1 || true
# The Win32 suite's windows go unmanaged: with no window manager on the
# private server, Wine waits two seconds for a managed window's withdrawal
# each time a dialog or fullscreen window closes.
timeout 60 wine reg add 'HKCU\Software\Wine\AppDefaults\system_win32_test.exe\X11 Driver' \
  /v Managed /d N /f >/dev/null 2>&1 || true
# The simulation suite runs without its check of the seventh powers against
# the C library's pow: mingw-w64's pow is not correctly rounded as glibc's is,
# so that check compares with a different reference on Windows.
ctest --test-dir build-win --output-on-failure -j 1 --timeout 300 -E '^sph_test$'
echo "== sph_test under Wine (without the comparison with mingw's pow)"
(cd build-win/tests/sph && timeout 300 wine sph_test.exe --gtest_brief=1 \
  --gtest_filter=-Density.SeventhPowersMatchPowForEveryDensityTheGuardLetsThrough)

# events-logger.exe meets the Linux logger's cases (XTest keys and clicks,
# Escape, the close request) with Wine's X driver in between.
if [ -x build/tests/graphics/events_logger_test ]; then
  echo "== events-logger.exe under Wine, typed at and clicked with XTest"
  FK_WINDOWS_EVENTS_LOGGER="$PWD/build-win/dist/events-logger.exe" \
    build/tests/graphics/events_logger_test --gtest_brief=1 --gtest_filter='*Windows*'
fi

# fluid.exe's files: a screenshot on a full disk leaves the old file, and
# names beyond ASCII (Latin-1, beyond it, beyond the BMP) arrive as typed.
if [ -x build/tests/app/app_fluid_program_test ]; then
  echo "== fluid.exe under Wine: screenshots on a full disk and under non-ASCII names"
  FK_WINDOWS_FLUID="$PWD/build-win/dist/fluid.exe" \
    build/tests/app/app_fluid_program_test --gtest_brief=1 --gtest_filter='*FluidFiles*Windows*'
fi

# The Windows simulation gives the Linux one's bytes, in both scenes; the
# dump's name beyond ASCII reaches the file system as typed.
linux_bench=build/tools/fluid_bench/fluid-bench
if [ -x "$linux_bench" ]; then
  tmp=$(mktemp -d)
  for scene in initial full; do
    "$linux_bench" --steps 200 --scene "$scene" --dump "$tmp/linux-$scene.bin" >/dev/null
    LC_ALL=C.UTF-8 timeout 300 wine build-win/tools/fluid_bench/fluid-bench.exe --steps 200 --scene "$scene" \
      --dump "$(winepath -w "$tmp")\\windows-ü€😀-$scene.bin" >/dev/null
    if ! cmp -s "$tmp/linux-$scene.bin" "$tmp/windows-ü€😀-$scene.bin"; then
      echo "fluid-bench.exe --dump differs from the Linux fluid-bench (scene $scene)" >&2
      exit 1
    fi
    echo "fluid-bench --dump, scene $scene: Windows and Linux bytes equal"
  done
  # A recording made on Linux (pours, walls, Space, P, N, R played through the
  # real program) replays under Windows to the same state.
  recording=tests/app/data/pour-wall-pause-step-reset.rec
  "$linux_bench" --replay "$recording" --dump "$tmp/linux-replay.bin" >/dev/null
  timeout 300 wine build-win/tools/fluid_bench/fluid-bench.exe --replay "$(winepath -w "$PWD/$recording")" \
    --dump "$(winepath -w "$tmp/windows-replay.bin")" >/dev/null
  if ! cmp -s "$tmp/linux-replay.bin" "$tmp/windows-replay.bin"; then
    echo "fluid-bench.exe --replay differs from the Linux fluid-bench" >&2
    exit 1
  fi
  echo "fluid-bench --replay of a Linux recording: Windows and Linux bytes equal"
  rm -rf "$tmp"
else
  echo "(no Linux build/: the fluid-bench comparison is skipped)"
fi

# fluid.exe draws the Linux program's frame, pixel for pixel, with the same
# Mesa rasteriser behind Wine's OpenGL. Only the status line's band (the top
# 16 rows: timings and frame rate differ from run to run) is left out.
linux_fluid=build/app/fluid
frame_compare=build/tools/frame_compare/frame-compare
if [ -x "$linux_fluid" ] && [ -x "$frame_compare" ]; then
  tmp=$(mktemp -d)
  "$linux_fluid" --frames 100 --screenshot "$tmp/linux.png" >/dev/null
  # From the folder a user unpacks, with only its own DLLs beside the system's.
  (cd build-win/dist && WINEPATH= timeout 300 wine fluid.exe --frames 100 --screenshot "$(winepath -w "$tmp/windows.png")" >/dev/null)
  if ! result=$("$frame_compare" "$tmp/linux.png" "$tmp/windows.png" 16); then
    echo "fluid.exe's frame differs from the Linux program's: $result" >&2
    exit 1
  fi
  echo "fluid --frames 100 --screenshot, Windows against Linux: $result"
  rm -rf "$tmp"
else
  echo "(no Linux fluid in build/: the screenshot comparison is skipped)"
fi
echo "Windows stage: $(( $(date +%s) - start )) s"
