#!/usr/bin/env bash
# Builds the module (vtal.dll), the host library (vtal_host.dll) and the tests
# for 64-bit Windows with the MinGW-w64 cross compilers, and runs the tests
# under Wine. Never skips: if Wine cannot run a Windows program here, it says
# so with what it saw and fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build=build/windows
jobs=$(nproc)

# Debian's wine64 puts the 64-bit loader outside PATH.
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64 || true)
if [ -z "$wine64" ] || [ ! -x "$wine64" ]; then
  echo "windows-test: BLOCKED: no wine64 loader (Debian package wine64) on this machine" >&2
  exit 1
fi

# The same settings the build's emulator uses (cmake/mingw-w64-x86_64.cmake).
mkdir -p "$build"
export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# The first start creates the Wine prefix, which takes about ten seconds.
echo "== Wine: $("$wine64" --version 2>&1 || true), prefix $WINEPREFIX"
if ! seen=$("$wine64" cmd.exe /c echo wine-runs 2>&1) || [[ "$seen" != *wine-runs* ]]; then
  echo "windows-test: BLOCKED: Wine cannot run a Windows program on this machine. It said:" >&2
  echo "$seen" >&2
  exit 1
fi

echo "== Windows cross build"
cmake --preset windows
cmake --build --preset windows -j "$jobs"

# The subsystems' unit tests must be part of the Windows run.
for program in vtal.dll vtal_host.dll vtal_windows_tests.exe vtal_guidance_tests.exe vtal_mechanisms_tests.exe; do
  if [ ! -f "$build/bin/$program" ]; then
    echo "windows-test: $build/bin/$program was not built" >&2
    exit 1
  fi
done

echo "== Windows tests under Wine"
# One test program at a time: concurrent Wine starts can race (see CMakeLists.txt).
ctest --preset windows -j 1
echo "== Legend pictures: $build/tests/windows/hud/*.bmp"
