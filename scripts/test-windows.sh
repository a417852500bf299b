#!/usr/bin/env bash
# The Windows builds: build/win32 (the 32-bit release build, everything that
# exists, warnings as errors), and the same sources with the test suite twice:
# build/win32-tests (32-bit, what ships) and build/win64 (64-bit). The test
# binaries of both run under Wine inside a private network namespace, each
# bitness in a scratch Wine prefix of its own (a 64-bit prefix, as Windows 10
# and 11 are: 32-bit programs run in it under WOW64), which holds the registry
# they write. Then the installer (scripts/test-installer.sh).
#
# Whether the kernel runs 32-bit programs is asked once (scripts/can-run-32bit.sh)
# and passed on to the scripts called from here in GLIMMERHOLD_32BIT ("yes" or
# "no") and GLIMMERHOLD_32BIT_WHY. Where it does, every 32-bit run is required;
# where it does not, the script says so and why, and runs the rest.
#
# Exits non-zero when a build fails, a test fails, or a binary runs too long.
set -euo pipefail
cd "$(dirname "$0")/.."

WINE=${WINE:-/usr/lib/wine/wine64}
WINE32=${WINE32:-/usr/lib/wine/wine}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
jobs=$(nproc)
# Each test binary gets this long; a whole bitness takes about a minute.
limit=${GLIMMERHOLD_WINE_TEST_LIMIT:-300}

if [[ -z ${GLIMMERHOLD_32BIT:-} ]]; then
  GLIMMERHOLD_32BIT=yes
  GLIMMERHOLD_32BIT_WHY=$(./scripts/can-run-32bit.sh 2>&1) || GLIMMERHOLD_32BIT=no
  export GLIMMERHOLD_32BIT GLIMMERHOLD_32BIT_WHY
fi
case $GLIMMERHOLD_32BIT in
  yes) echo "== 32-bit programs run on this kernel: the 32-bit Wine runs are required" ;;
  no)
    GLIMMERHOLD_32BIT_WHY=${GLIMMERHOLD_32BIT_WHY:-the caller set GLIMMERHOLD_32BIT=no}
    echo "== NOT POSSIBLE HERE: $GLIMMERHOLD_32BIT_WHY"
    ;;
  *) echo "GLIMMERHOLD_32BIT must be yes or no, not \"$GLIMMERHOLD_32BIT\"" >&2; exit 2 ;;
esac

cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DGLIMMERHOLD_WERROR=ON -DGLIMMERHOLD_TESTS=OFF -DGLIMMERHOLD_BENCHMARKS=OFF \
  -DGLIMMERHOLD_CODESIGN_CERT= -DGLIMMERHOLD_CODESIGN_KEY= >/dev/null
cmake --build build/win32 -j "$jobs"
# The release executable's headers, dialog template, icons and manifest.
python3 tests/win32_ui/check_launcher_exe.py build/win32/bin/Launcher.exe
# The link-paced launcher (GLIMMERHOLD_LINK_PACED) must compile too: its wake
# is a posted message the dialog procedure handles.
cmake -S . -B build/win32-paced -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DGLIMMERHOLD_WERROR=ON -DGLIMMERHOLD_TESTS=OFF -DGLIMMERHOLD_BENCHMARKS=OFF \
  -DGLIMMERHOLD_CODESIGN_CERT= -DGLIMMERHOLD_CODESIGN_KEY= -DGLIMMERHOLD_LINK_PACED=ON >/dev/null
cmake --build build/win32-paced -j "$jobs" --target Launcher

tests=(text_tests settings_tests platform_tests win32_tests win32_ui_tests shell_tests web_tests update_tests net_tests)
# Built whether or not they can run here: the two toolchains differ (calling
# conventions, type sizes), and both must compile.
for build in win32-tests:mingw-i686 win64:mingw-x86_64; do
  cmake -S . -B "build/${build%%:*}" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/${build#*:}.cmake" \
    -DCMAKE_BUILD_TYPE=Debug -DGLIMMERHOLD_WERROR=ON -DGLIMMERHOLD_BENCHMARKS=OFF >/dev/null
  cmake --build "build/${build%%:*}" -j "$jobs"
  for t in "${tests[@]}"; do
    [[ -f "build/${build%%:*}/bin/$t.exe" ]] || { echo "missing build/${build%%:*}/bin/$t.exe" >&2; exit 1; }
  done
done

# Each run: its bitness, its Wine loader, its binaries and its MinGW runtime.
runs=("64|$WINE|$(pwd)/build/win64/bin|Z:\usr\lib\gcc\x86_64-w64-mingw32\12-posix;Z:\usr\x86_64-w64-mingw32\lib")
if [[ $GLIMMERHOLD_32BIT == yes ]]; then
  runs+=("32|$WINE32|$(pwd)/build/win32-tests/bin|Z:\usr\lib\gcc\i686-w64-mingw32\12-posix;Z:\usr\i686-w64-mingw32\lib")
fi

scratch=$(mktemp -d /tmp/glimmerhold-wine-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# Everything Wine does happens in here: its server is started inside the
# namespace, so the programs' sockets live on its private loopback.
# GLIMMERHOLD_PRIVATE_NETWORK and GLIMMERHOLD_SCRATCH_REGISTRY tell the test
# binaries that they run where they may bind port 80 and write the registry.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export GLIMMERHOLD_SCRATCH_REGISTRY=1 GLIMMERHOLD_PRIVATE_NETWORK=1
export WINE WINESERVER limit scratch
unshare -rn bash -c '
  set -u -o pipefail
  ip link set lo up
  status=0
  for run in "$@"; do
    IFS="|" read -r bits loader bin runtime <<<"$run"
    export WINEPREFIX="$scratch/prefix$bits"
    started=$SECONDS
    echo "== creating the Wine prefix for the $bits-bit runs"
    # Made by 64-bit Wine either way, without a runtime on the search path
    # (the 32-bit one would break its start).
    timeout 120 "$WINE" cmd /c exit 0 >/dev/null 2>&1 || { echo "Wine prefix could not be made" >&2; exit 1; }
    # No X server: windows exist for the dialog tests, but nothing is drawn.
    "$WINE" reg add "HKCU\\Software\\Wine\\Drivers" /v Graphics /t REG_SZ /d null /f >/dev/null 2>&1
    # The driver is chosen when the Wine server starts: start it afresh.
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
    passed=0
    failed=0
    cases=0
    for t in '"${tests[*]}"'; do
      echo "== $t ($bits-bit, under Wine)"
      cd "$bin"
      WINEPATH=$runtime timeout "$limit" "$loader" "$t.exe" --gtest_color=no | tee "$scratch/output"
      code=${PIPESTATUS[0]}
      ran=$(tr -d "\r" <"$scratch/output" | sed -n "s/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\.$/\1/p" | head -n 1)
      # Its exit code alone does not say that a binary ran to its end: one
      # that crashes in the middle of its tests can end with 0 under Wine
      # (after the crash report). Passed is exit code 0 and the summary.
      if [ "$code" -eq 0 ] && [ -n "$ran" ]; then
        passed=$((passed + 1))
        cases=$((cases + ran))
      else
        [ -n "$ran" ] || code="$code, and no summary: it ended in the middle of its tests"
        echo "== $t ($bits-bit) FAILED (exit $code)" >&2
        failed=$((failed + 1))
      fi
    done
    "$WINESERVER" -k 2>/dev/null || true
    echo "wine-binaries ($bits-bit): $passed passed, $failed failed; $cases tests passed ($((SECONDS - started)) s)"
    [ "$failed" -eq 0 ] || status=1
  done
  exit "$status"
' wine-suites "${runs[@]}"
if [[ $GLIMMERHOLD_32BIT == no ]]; then
  echo "wine-binaries (32-bit): NOT RUN: $GLIMMERHOLD_32BIT_WHY"
fi

# The update engine as shipped: the 32-bit headless driver under 32-bit Wine,
# driven by the proof tests.
./scripts/test-wine-engine.sh

# The game's installer, built with these launchers and run under Wine.
./scripts/test-installer.sh
