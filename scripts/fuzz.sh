#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time on a copy of
# its committed seed corpus. Fails when any target finds a crash, a leak or a
# broken invariant; the input that did it is left in build/fuzz/findings/.
#
#   scripts/fuzz.sh [seconds-per-target]    (default 12)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-12}
targets=(version_list entry_name response_header reg_export error_text list_signature)

# Debian's clang with its runtime libraries (clang, libclang-rt-14-dev).
if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz.sh: clang++ is missing (Debian packages clang and libclang-rt-14-dev)" >&2
  exit 1
fi

CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DGLIMMERHOLD_WERROR=ON -DGLIMMERHOLD_FUZZ=ON -DGLIMMERHOLD_TESTS=OFF -DGLIMMERHOLD_BENCHMARKS=OFF >/dev/null
cmake --build build/fuzz -j "$(nproc)" --target fuzz_targets

work=build/fuzz/run
findings=build/fuzz/findings
rm -rf "$work"
mkdir -p "$findings"
failed=()
for target in "${targets[@]}"; do
  # The seeds are copied: what the run learns stays out of the repository.
  mkdir -p "$work/$target"
  cp fuzz/corpus/"$target"/* "$work/$target"/
  echo "== $target: ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      "build/fuzz/bin/${target}_fuzz" "$work/$target" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/${target}-" -print_final_stats=1 \
      >"$work/$target.log" 2>&1; then
    failed+=("$target")
    tail -n 40 "$work/$target.log"
  fi
  grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units)' "$work/$target.log" || true
done

if ((${#failed[@]})); then
  echo "fuzzing found faults in: ${failed[*]} (inputs in $findings/)"
  exit 1
fi
echo "fuzzing: ${#targets[@]} targets ran ${seconds}s each without a fault"
