#!/usr/bin/env bash
# The whole test suite, on a fresh Debian 12 machine: installs what it needs,
# checks the code style, checks the bundled launcher page against the Windows engine, builds the
# studios' Release configuration, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs every test, runs the end-to-end and
# proof tests again in the link-paced build, builds the threaded download
# code with ThreadSanitizer and runs its tests again, runs each fuzzer for a
# bounded time, and builds the Windows launcher and installer (32-bit) and the
# test suite (32 and 64 bits), which run under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

# The code style: clang-format 14 on every C/C++ file, clang-tidy 14 on the
# portable core.
./scripts/check-style.sh

jobs=$(nproc)

# The bundled launcher page runs on Windows in Internet Explorer 11's engine:
# ECMAScript 5 and the CSS that engine has.
python3 scripts/check-page.py demo/page

# The release build exactly as docs/publishing.md gives it to studios: no
# warnings-as-errors, -O3.
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DGLIMMERHOLD_PAGE_HOST=launcher.example.com >/dev/null
cmake --build build/release -j "$jobs" --target Launcher glimmerhold-publish

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DGLIMMERHOLD_WERROR=ON \
  -DGLIMMERHOLD_SANITIZE=address,undefined -DGLIMMERHOLD_BENCHMARKS=OFF >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs"

# The link-paced build (GLIMMERHOLD_LINK_PACED): a finished file wakes the
# update run at once. The tests of what it changes run in both builds; here
# the end-to-end and proof tests (the SIGKILL crash consistency among them)
# run again with it on.
cmake -S . -B build/asan-paced -G Ninja -DCMAKE_BUILD_TYPE=Debug -DGLIMMERHOLD_WERROR=ON \
  -DGLIMMERHOLD_SANITIZE=address,undefined -DGLIMMERHOLD_BENCHMARKS=OFF -DGLIMMERHOLD_LINK_PACED=ON >/dev/null
cmake --build build/asan-paced -j "$jobs" --target Launcher glimmerhold-publish update_driver proof_tests
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan-paced --output-on-failure -R '^(launcher_e2e|proof_tests)$'

cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMMERHOLD_WERROR=ON \
  -DGLIMMERHOLD_SANITIZE=thread -DGLIMMERHOLD_BENCHMARKS=OFF >/dev/null
cmake --build build/tsan -j "$jobs" --target net_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan --output-on-failure -R '^net_tests$'

./scripts/fuzz.sh 12
./scripts/test-windows.sh
