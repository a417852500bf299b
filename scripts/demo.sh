#!/usr/bin/env bash
# The launcher's main job on the bundled demo: builds the launcher, lays out a
# demo update server (launcher page + game files) served by nginx on port 80
# of a private network namespace, registers a demo installation, and runs the
# launcher, which brings the installation up to date and starts the game when
# Play is pressed. Without a display it runs under Xvfb, leaves a screenshot
# in demo/run/screenshot.png and presses Play itself.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

./scripts/install-deps.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DGLIMMERHOLD_TESTS=OFF -DGLIMMERHOLD_BENCHMARKS=OFF >/dev/null
cmake --build build/release --target Launcher glimmerhold-publish

run="$root/demo/run"
mkdir -p "$run/install"
rm -rf "$run/www"
mkdir -p "$run/www"
cp demo/page/* "$run/www/"
build/release/bin/glimmerhold-publish --out "$run/www/glimmerhold" demo/content

# The installer's registry values, in the launcher's registry file.
cat > "$run/Glimmerhold.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Quarvo\\Glimmerhold]
"InstallPath"="${run//\//\\\\}\\\\install"
"Lenguaje_h144357406"="${DEMO_LANGUAGE:-en-US}"
REG

sed -e "s|@RUN@|$run|g" -e "s|@ROOT@|$run/www|g" demo/nginx.conf.in > "$run/nginx.conf"

exec unshare -rn bash demo/session.sh "$root/build/release/bin/Launcher.exe" "$run"
