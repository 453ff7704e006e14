#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev lld
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcli11-dev nlohmann-json3-dev libutfcpp-dev
  libfreetype-dev libpng-dev fonts-dejavu-core
  g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32 wine wine64 fonts-wine
  xvfb imagemagick x11-apps
  valgrind python3 time
  dosfstools mtools
)
install_missing() { # package...
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
install_missing "${packages[@]}"

# The 32-bit Windows build runs under 32-bit wine (wine32, from the i386 architecture),
# but only where the kernel runs 32-bit programs at all: elsewhere wine32's loader cannot
# start, and with it installed the wine command picks that loader even for 64-bit programs.
# The test needs the assembler and linker installed above.
if bash "$(dirname "$0")/runs-32-bit.sh"; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: adding the i386 architecture"
    dpkg --add-architecture i386
  fi
  install_missing wine32:i386
fi
