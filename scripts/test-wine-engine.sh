#!/usr/bin/env bash
# The update engine as players run it, under 32-bit Wine: the headless update
# driver (tests/proof/update_driver.cpp: the real update run behind the
# scripted page) built with the 32-bit MinGW toolchain over the Win32
# backends (sockets, files, threads, process start, registry, CNG), driven by
# the Linux proof tests (tests/proof) in place of the Linux driver: a fresh
# install and a patch, faults of the server (a reset mid-file among them),
# kills with SIGKILL mid-transfer and the runs that resume, a signed release,
# tampered files, and the self-update that starts the new launcher with
# "/pause" (tests/win32/probe.cpp stands in for it).
#
# Asks the kernel first whether it runs 32-bit programs at all
# (scripts/can-run-32bit.sh, unless the caller asked already and passes the
# answer in GLIMMERHOLD_32BIT, "yes" or "no", with GLIMMERHOLD_32BIT_WHY, as
# scripts/test-windows.sh does): where it does not, says so and why, and
# exits 0. Otherwise exits non-zero when a build or a test fails or the run
# takes too long.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ -z ${GLIMMERHOLD_32BIT:-} ]]; then
  GLIMMERHOLD_32BIT=yes
  GLIMMERHOLD_32BIT_WHY=$(./scripts/can-run-32bit.sh 2>&1) || GLIMMERHOLD_32BIT=no
fi
case $GLIMMERHOLD_32BIT in
  yes) ;;
  no)
    echo "wine-engine (32-bit): NOT RUN: ${GLIMMERHOLD_32BIT_WHY:-the caller set GLIMMERHOLD_32BIT=no}"
    exit 0
    ;;
  *) echo "GLIMMERHOLD_32BIT must be yes or no, not \"$GLIMMERHOLD_32BIT\"" >&2; exit 2 ;;
esac

jobs=$(nproc)
# The proof tests under Wine take two to four minutes on a busy two-core
# machine.
limit=${GLIMMERHOLD_WINE_ENGINE_LIMIT:-540}

# The driver and the probe, 32-bit, optimised and warnings as errors as the
# release launcher is built.
cmake -S . -B build/win32-driver -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DGLIMMERHOLD_WERROR=ON -DGLIMMERHOLD_BENCHMARKS=OFF >/dev/null
cmake --build build/win32-driver -j "$jobs" --target update_driver win32_probe
# The proof tests themselves, from the suite's own Linux build.
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DGLIMMERHOLD_WERROR=ON \
  -DGLIMMERHOLD_SANITIZE=address,undefined -DGLIMMERHOLD_BENCHMARKS=OFF >/dev/null
cmake --build build/asan -j "$jobs" --target proof_tests

scratch=$(mktemp -d /tmp/glimmerhold-wine32-XXXXXX)
export WINE=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver
# The Wine server the tests start stays until it is told to end.
trap '"$WINESERVER" -k 2>/dev/null || true; rm -rf "$scratch"' EXIT
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPATH='Z:\usr\lib\gcc\i686-w64-mingw32\12-posix;Z:\usr\i686-w64-mingw32\lib'
export GLIMMERHOLD_WINE_DRIVER="$PWD/build/win32-driver/bin/update_driver.exe"
export limit

# Everything Wine does happens in a user and network namespace of its own
# (the prefix, its server and the programs belong to the same user there);
# proof_tests makes a network namespace of its own inside it, and the Wine
# server its drivers start lives there, so the programs' sockets are on that
# private loopback.
status=0
unshare -rn bash -c '
  set -u
  # A 64-bit prefix, as on 64-bit Windows: the 32-bit programs run in it
  # under WOW64. Its server is let go before the tests, which start their own.
  # (The 32-bit runtime folders on the search path would break the 64-bit
  # start: they are given to the 32-bit programs only.)
  echo "== creating the Wine prefix"
  timeout 300 env -u WINEPATH /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 ||
    { echo "Wine prefix could not be made" >&2; exit 1; }
  # No X server: nothing here makes a window, and Wine tries no display.
  env -u WINEPATH /usr/lib/wine/wine64 reg add "HKCU\\Software\\Wine\\Drivers" /v Graphics /t REG_SZ /d null /f >/dev/null 2>&1
  "$WINESERVER" -w
  echo "== proof tests against the 32-bit Windows update driver under 32-bit Wine"
  status=0
  timeout "$limit" build/asan/bin/proof_tests --gtest_color=no || status=$?
  "$WINESERVER" -k 2>/dev/null || true
  exit "$status"
' || status=$?
if [ "$status" -ne 0 ]; then
  echo "== the 32-bit engine under Wine FAILED (exit $status)" >&2
  exit "$status"
fi
echo "== the 32-bit engine under Wine: every proof test passed"
