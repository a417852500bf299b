#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent: packages already present are skipped, and apt is not touched at
# all when nothing is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  googletest libgtest-dev libbenchmark-dev
  libgtk-3-dev libwebkit2gtk-4.1-dev
  nginx-light xvfb xdotool x11-utils imagemagick xdg-utils
  libssl-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64
  iproute2 curl python3 procps
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
# Debian starts nginx when it is installed; the project runs its own servers
# in private network namespaces and needs none on this machine's port 80.
if command -v systemctl >/dev/null 2>&1; then $sudo systemctl disable --now nginx >/dev/null 2>&1 || true; fi
$sudo pkill -x nginx >/dev/null 2>&1 || true
