#!/usr/bin/env bash
# The game's installer, for real (part of scripts/test-windows.sh, after the
# Windows builds): a small release published with glimmerhold-publish goes
# into a 64-bit installer with the 64-bit launcher, which runs silently under
# wine64 in a throw-away prefix inside a private network and mount namespace.
# The launcher's own settings code (settings_probe.exe) reads back what it
# wrote; a second installation over the first keeps the game files the
# launcher fetched; the uninstaller leaves the prefix as it was. Then the
# folders a player may pick: one that cannot be written, one outside the ANSI
# code page, one that already holds files, and an installation cancelled on
# its first page. Last, the 32-bit shipping installer is built and unpacked.
set -euo pipefail
cd "$(dirname "$0")/.."

WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
jobs=$(nproc)
root=$(pwd)

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

# The player's system language comes from the locale Wine starts in; one of
# our own, so that nothing needs installing system-wide.
mkdir -p "$work/locale"
localedef -i es_ES -f UTF-8 "$work/locale/es_ES.UTF-8"

scratch=$(mktemp -d /tmp/glimmerhold-installer-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# winemenubuilder is Wine's own desktop integration (Linux menu entries and
# icons for each shortcut): Wine's business, not the installer's.
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine links the profile's Desktop to $HOME: a home of the test's own, so
# that the desktop shortcut lands inside the scratch folder.
export HOME="$scratch/home" LANG=C.UTF-8 LC_ALL=
export WINE WINESERVER work scratch
export bin=$root/build/win64/bin
mkdir -p "$HOME"
unshare -rnm bash "$root/tests/installer/installer_checks.sh"

# The 32-bit shipping installer: built with the release launcher and checked
# unpacked (a 32-bit program cannot run here).
# It is signed, as a studio ships it, with a code-signing certificate made on
# the spot: the launcher it carries, the installer and its uninstaller must
# each verify.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Glimmerhold test studio" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/codesign.key" -out "$work/codesign.pem" 2>/dev/null
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DGLIMMERHOLD_TESTS=OFF -DGLIMMERHOLD_BENCHMARKS=OFF \
  -DGLIMMERHOLD_INSTALLER_RELEASE="$work/served32" \
  -DGLIMMERHOLD_CODESIGN_CERT="$work/codesign.pem" -DGLIMMERHOLD_CODESIGN_KEY="$work/codesign.key" >/dev/null
cmake --build build/win32 -j "$jobs" --target installer
python3 tests/installer/check_installer_exe.py build/win32/bin/GlimmerholdSetup.exe \
  build/win32/bin/signed/Launcher.exe "$work/served32"
rm -rf "$work/unpacked32"
7z x -y -o"$work/unpacked32" build/win32/bin/GlimmerholdSetup.exe Launcher.exe Uninstall.exe >/dev/null
for signed in build/win32/bin/GlimmerholdSetup.exe "$work/unpacked32/Launcher.exe" "$work/unpacked32/Uninstall.exe"; do
  if ! osslsigncode verify -CAfile "$work/codesign.pem" -in "$signed" >"$work/verify.log" 2>&1; then
    cat "$work/verify.log" >&2
    echo "FAILED: $signed carries no valid Authenticode signature" >&2
    exit 1
  fi
  echo "ok: $(basename "$signed") is signed"
done
# The signing leaves the launcher built for the update folder as it was.
cmake -S . -B build/win32 -DGLIMMERHOLD_CODESIGN_CERT= -DGLIMMERHOLD_CODESIGN_KEY= >/dev/null
