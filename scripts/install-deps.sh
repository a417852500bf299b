#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent: packages already present are skipped, and apt is not touched at
# all when nothing is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  googletest libgtest-dev libbenchmark-dev
  libgtk-3-dev libwebkit2gtk-4.1-dev
  nginx-light lighttpd varnish xvfb xdotool x11-utils imagemagick xdg-utils
  libssl-dev openssl
  clang libclang-rt-14-dev clang-format clang-tidy
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 wine32:i386
  nsis p7zip-full osslsigncode locales
  iproute2 curl python3 procps strace
  node-acorn
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
# Debian starts a web server's service when its package is installed. The
# project runs its own servers in private network namespaces and needs none
# on this machine, so the services are kept from starting the Debian way: a
# policy-rc.d that refuses every start for the length of the install. One
# that already exists is the machine owner's and is left as it is. No
# process is stopped: a server already running here is not ours to touch.
policy=/usr/sbin/policy-rc.d
own_policy=""
if [ ! -e "$policy" ] && [ ! -L "$policy" ]; then
  printf '#!/bin/sh\n# Written by glimmerhold scripts/install-deps.sh for one install.\nexit 101\n' |
    $sudo tee "$policy" >/dev/null
  $sudo chmod 755 "$policy"
  own_policy=1
fi
remove_policy() { if [ -n "$own_policy" ]; then $sudo rm -f "$policy"; fi; }
trap remove_policy EXIT
# 32-bit Wine (the shipped launcher and installer are 32-bit programs) comes
# from Debian's i386 architecture, beside the machine's own.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
