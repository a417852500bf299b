#!/usr/bin/env bash
# The Windows builds: build/win32 (the 32-bit release build, everything that
# exists, warnings as errors) and build/win64 (the same sources with the test
# suite), whose test binaries then run under Wine inside a private network
# namespace, with a scratch Wine prefix that holds the registry they write.
#
# Exits non-zero when a build fails, a test fails, or a binary runs too long.
set -euo pipefail
cd "$(dirname "$0")/.."

WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
jobs=$(nproc)
# Each test binary gets this long; the whole suite takes well under a minute.
limit=${GLIMMERHOLD_WINE_TEST_LIMIT:-300}

cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DGLIMMERHOLD_WERROR=ON -DGLIMMERHOLD_TESTS=OFF -DGLIMMERHOLD_BENCHMARKS=OFF >/dev/null
cmake --build build/win32 -j "$jobs"
# The release executable's headers, dialog template, icons and manifest.
python3 tests/win32_ui/check_launcher_exe.py build/win32/bin/Launcher.exe

cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Debug -DGLIMMERHOLD_WERROR=ON -DGLIMMERHOLD_BENCHMARKS=OFF >/dev/null
cmake --build build/win64 -j "$jobs"

bin=$(pwd)/build/win64/bin
tests=(text_tests settings_tests platform_tests win32_tests win32_ui_tests shell_tests web_tests update_tests net_tests)
for t in "${tests[@]}"; do
  [[ -f "$bin/$t.exe" ]] || { echo "missing $bin/$t.exe" >&2; exit 1; }
done

scratch=$(mktemp -d /tmp/glimmerhold-wine-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# Everything Wine does happens in here: its server is started inside the
# namespace, so the programs' sockets live on its private loopback.
# GLIMMERHOLD_PRIVATE_NETWORK and GLIMMERHOLD_SCRATCH_REGISTRY tell the test
# binaries that they run where they may bind port 80 and write the registry.
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPATH='Z:\usr\lib\gcc\x86_64-w64-mingw32\12-posix;Z:\usr\x86_64-w64-mingw32\lib'
export GLIMMERHOLD_SCRATCH_REGISTRY=1 GLIMMERHOLD_PRIVATE_NETWORK=1
export WINE WINESERVER bin limit
unshare -rn bash -c '
  set -u
  ip link set lo up
  echo "== creating the Wine prefix"
  timeout 120 "$WINE" cmd /c exit 0 >/dev/null 2>&1 || { echo "Wine prefix could not be made" >&2; exit 1; }
  # No X server: windows exist for the dialog tests, but nothing is drawn.
  "$WINE" reg add "HKCU\\Software\\Wine\\Drivers" /v Graphics /t REG_SZ /d null /f >/dev/null 2>&1
  # The driver is chosen when the Wine server starts: start it afresh.
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
  passed=0
  failed=0
  for t in '"${tests[*]}"'; do
    echo "== $t (under Wine)"
    cd "$bin"
    if timeout "$limit" "$WINE" "$t.exe" --gtest_color=no; then
      passed=$((passed + 1))
    else
      echo "== $t FAILED (exit $?)" >&2
      failed=$((failed + 1))
    fi
  done
  "$WINESERVER" -k 2>/dev/null || true
  echo "wine-binaries: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
'

# The game's installer, built with these launchers and run under Wine.
./scripts/test-installer.sh
