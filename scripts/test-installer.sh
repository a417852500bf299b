#!/usr/bin/env bash
# The game's installer, for real (part of scripts/test-windows.sh, after the
# Windows builds): a small release published with glimmerhold-publish goes
# into a 64-bit installer with the 64-bit launcher and into the 32-bit
# shipping installer with the release launcher. Each runs silently under Wine
# of its bitness in a throw-away 64-bit prefix inside a private network and
# mount namespace (tests/installer/installer_checks.sh): the launcher's own
# settings code (settings_probe.exe) reads back what it wrote; a second
# installation over the first keeps the game files the launcher fetched; the
# uninstaller leaves the prefix as it was; then the folders a player may pick
# (one that cannot be written, one outside the ANSI code page, one that
# already holds files), an installation cancelled on its first page, and the
# installed launcher started from its Start menu shortcut against a page host
# on the namespace's loopback. The 32-bit installer is also checked unpacked.
#
# The 32-bit run needs a kernel that runs 32-bit programs: asked as
# scripts/test-windows.sh does, unless GLIMMERHOLD_32BIT already holds the
# answer. Where it does not, the script says so and why, and runs the rest.
set -euo pipefail
cd "$(dirname "$0")/.."

WINE=${WINE:-/usr/lib/wine/wine64}
WINE32=${WINE32:-/usr/lib/wine/wine}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
jobs=$(nproc)
root=$(pwd)

if [[ -z ${GLIMMERHOLD_32BIT:-} ]]; then
  GLIMMERHOLD_32BIT=yes
  GLIMMERHOLD_32BIT_WHY=$(./scripts/can-run-32bit.sh 2>&1) || GLIMMERHOLD_32BIT=no
  export GLIMMERHOLD_32BIT GLIMMERHOLD_32BIT_WHY
fi

publish=${GLIMMERHOLD_PUBLISH:-$root/build/asan/bin/glimmerhold-publish}
if [[ ! -x "$publish" ]]; then
  cmake -S . -B build/publish -G Ninja -DGLIMMERHOLD_TESTS=OFF -DGLIMMERHOLD_BENCHMARKS=OFF >/dev/null
  cmake --build build/publish -j "$jobs" --target glimmerhold-publish
  publish=$root/build/publish/bin/glimmerhold-publish
fi

# The release: a launcher page's languages, a name with escaped letters in a
# folder with one, and the launcher built for the test.
work=$root/build/win64/installer-test
rm -rf "$work"
mkdir -p "$work/release/data/maps" "$work/release/m$(printf '\xc3\xba')sica"
cmake --build build/win64 -j "$jobs" --target Launcher
cp build/win64/bin/Launcher.exe "$work/release/Launcher.exe"
printf 'MZ stand-in\n' >"$work/release/Glimmerhold.exe"
head -c 300000 /dev/urandom >"$work/release/data/maps/deepway.pak"
printf 'la la\n' >"$work/release/m$(printf '\xc3\xba')sica/Canci$(printf '\xc3\xb3')n Espa$(printf '\xc3\xb1')a!.txt"
"$publish" --out "$work/served" "$work/release"
# The same game files without a launcher, for the 32-bit installer, which
# carries the 32-bit launcher.
cp -a "$work/release" "$work/release32"
rm "$work/release32/Launcher.exe"
"$publish" --out "$work/served32" "$work/release32"

cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Debug -DGLIMMERHOLD_BENCHMARKS=OFF -DGLIMMERHOLD_INSTALLER_RELEASE="$work/served" \
  -DGLIMMERHOLD_GAME_NAME=Glimmerhold -DGLIMMERHOLD_LANGUAGES="en-US;es-ES" >/dev/null
cmake --build build/win64 -j "$jobs" --target installer settings_probe installer_cancel

# The 32-bit shipping installer, with the release launcher, and the 32-bit
# probes beside the 32-bit test suite. It is signed, as a studio ships it,
# with a code-signing certificate made on the spot: the launcher it carries,
# the installer and its uninstaller must each verify.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Glimmerhold test studio" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/codesign.key" -out "$work/codesign.pem" 2>/dev/null
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DGLIMMERHOLD_WERROR=ON -DGLIMMERHOLD_TESTS=OFF -DGLIMMERHOLD_BENCHMARKS=OFF \
  -DGLIMMERHOLD_INSTALLER_RELEASE="$work/served32" \
  -DGLIMMERHOLD_CODESIGN_CERT="$work/codesign.pem" -DGLIMMERHOLD_CODESIGN_KEY="$work/codesign.key" >/dev/null
cmake --build build/win32 -j "$jobs" --target installer
# The certificate is the test's: the next configuration of build/win32 must
# not look for it.
cmake -S . -B build/win32 -DGLIMMERHOLD_CODESIGN_CERT= -DGLIMMERHOLD_CODESIGN_KEY= >/dev/null
python3 tests/installer/check_installer_exe.py build/win32/bin/GlimmerholdSetup.exe \
  build/win32/bin/signed/Launcher.exe "$work/served32"
rm -rf "$work/unpacked32"
7z x -y -o"$work/unpacked32" build/win32/bin/GlimmerholdSetup.exe Launcher.exe Uninstall.exe >/dev/null
for signed in build/win32/bin/GlimmerholdSetup.exe "$work/unpacked32/Launcher.exe" "$work/unpacked32/Uninstall.exe"; do
  if ! osslsigncode verify -CAfile "$work/codesign.pem" -in "$signed" >"$work/verify.log" 2>&1; then
    cat "$work/verify.log" >&2
    echo "FAILED: ${signed#"$root"/} carries no valid Authenticode signature" >&2
    exit 1
  fi
  echo "ok: ${signed#"$root"/} is signed"
done
cmake -S . -B build/win32-tests -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Debug -DGLIMMERHOLD_WERROR=ON -DGLIMMERHOLD_BENCHMARKS=OFF >/dev/null
cmake --build build/win32-tests -j "$jobs" --target settings_probe installer_cancel
# What its installation holds: the game files and the release launcher.
cp -a "$work/release32" "$work/installed32"
cp build/win32/bin/signed/Launcher.exe "$work/installed32/Launcher.exe"

# The player's system language comes from the locale Wine starts in; one of
# our own, so that nothing needs installing system-wide.
mkdir -p "$work/locale"
localedef -i es_ES -f UTF-8 "$work/locale/es_ES.UTF-8"

scratch=$(mktemp -d /tmp/glimmerhold-installer-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# winemenubuilder is Wine's own desktop integration (Linux menu entries and
# icons for each shortcut): Wine's business, not the installer's.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=C.UTF-8 LC_ALL=
export WINE64=$WINE WINESERVER work root
# One installer's checks in a prefix and a home of their own:
#   installer_run BITS WINE SETUP BIN RELEASE SERVED
installer_run() {
  echo "== the $1-bit installer (${3#"$root"/}) under $1-bit Wine"
  mkdir -p "$scratch/$1/home"
  # Wine links the profile's Desktop to $HOME: a home of the test's own, so
  # that the desktop shortcut lands inside the scratch folder.
  local started=$SECONDS outcome=0
  WINEPREFIX="$scratch/$1/prefix" HOME="$scratch/$1/home" scratch="$scratch/$1" \
    WINE=$2 setup=$3 bin=$4 release=$5 served=$6 \
    unshare -rnm bash "$root/tests/installer/installer_checks.sh" || outcome=1
  echo "== the $1-bit installer's checks took $((SECONDS - started)) s"
  return "$outcome"
}

status=0
installer_run 64 "$WINE" "$root/build/win64/bin/GlimmerholdSetup.exe" "$root/build/win64/bin" \
  "$work/release" "$work/served" || status=1
if [[ $GLIMMERHOLD_32BIT == yes ]]; then
  installer_run 32 "$WINE32" "$root/build/win32/bin/GlimmerholdSetup.exe" "$root/build/win32-tests/bin" \
    "$work/installed32" "$work/served32" || status=1
else
  echo "installer (32-bit): NOT RUN: ${GLIMMERHOLD_32BIT_WHY:-the caller set GLIMMERHOLD_32BIT=no}"
fi
exit "$status"
