#!/usr/bin/env bash
# Installs every system package the project needs, through apt only. Safe to run again:
# it installs only what is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make
  libgtest-dev libgmock-dev googletest
  libboost-dev
  libcli11-dev nlohmann-json3-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 wine32:i386
  xvfb xdotool x11-utils imagemagick
  lrzsz python3
  # The Debian package: cpack's dependency list (dpkg-shlibdeps, and file to find the programs).
  dpkg-dev file
  # clang and its sanitizer and libFuzzer runtime from the same set of default versions.
  clang libclang-rt-dev llvm
  debootstrap qemu-system-x86 e2fsprogs
)

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  if [ ${#missing[@]} -gt 0 ]; then
    "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
fi
