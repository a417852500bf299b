#!/usr/bin/env bash
# The style checks CI runs: every tracked C/C++ file is as clang-format 14
# formats it (.clang-format), no folder under src/ includes one above it
# (scripts/check-layers.py), and clang-tidy 14 (.clang-tidy) finds nothing in
# the portable core and the publishing tool. Prints the offending files and
# findings and exits non-zero when there are any.
#
# Needs clang-format and clang-tidy (scripts/install-deps.sh installs them).
# Configures build/tidy for its compile_commands.json; nothing is compiled.
set -euo pipefail
cd "$(dirname "$0")/.."

# The style is the one clang-format 14 and clang-tidy 14 give: another
# version formats and checks a little differently.
for tool in clang-format clang-tidy; do
  if ! "$tool" --version | grep -q 'version 14\.'; then
    echo "$tool 14 is needed (scripts/install-deps.sh installs it); found: $("$tool" --version | head -1)" >&2
    exit 2
  fi
done

status=0

echo "== clang-format"
# clang-format names each file it would change in its diagnostics.
mapfile -t unformatted < <(git ls-files -z -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' |
  xargs -0 clang-format --dry-run -Werror 2>&1 | grep -oE '^[^:]+:[0-9]+:[0-9]+: (error|warning): ' | cut -d: -f1 | sort -u || true)
if [ ${#unformatted[@]} -ne 0 ]; then
  printf 'not formatted: %s\n' "${unformatted[@]}"
  echo "format them with: clang-format -i ${unformatted[*]}"
  status=1
fi

echo "== layers"
python3 scripts/check-layers.py || status=1

echo "== clang-tidy"
# A configuration of its own, so the flags and generated headers match the
# sources; configuring writes src/generated/update_key_bytes.inc, the one
# generated include, so nothing needs building.
build=build/tidy
cmake -S . -B "$build" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DGLIMMERHOLD_TESTS=OFF -DGLIMMERHOLD_BENCHMARKS=OFF >/dev/null
test -f "$build/src/generated/update_key_bytes.inc"

# The portable core and the publishing tool (a Linux tool: the Linux build
# has its compile commands).
core='src/(update|net|settings|web|shell|text)/|tools/publish/'
mapfile -t units < <(git ls-files -- 'src/*.cpp' 'tools/*.cpp' | grep -E "^(${core})")
report=$(mktemp)
trap 'rm -f "$report"' EXIT
# One clang-tidy per file, as many at once as there are cores; each prints
# its findings in one piece.
printf '%s\n' "${units[@]}" |
  xargs -P "$(nproc)" -I{} sh -c 'out=$(clang-tidy -p "$1" --quiet "$2" 2>/dev/null); printf "%s\n" "$out"' _ "$build" {} \
    >"$report" || true

# A finding in a header shows once per file that includes it: count it once.
root="$(pwd)/"
mapfile -t findings < <(grep -E ': (warning|error): ' "$report" | sed "s|^${root}||" | sort -u)
if [ ${#findings[@]} -ne 0 ]; then
  echo "-- findings:"
  printf '%s\n' "${findings[@]}"
  status=1
fi

if [ "$status" -eq 0 ]; then
  echo "style checks passed"
fi
exit "$status"
