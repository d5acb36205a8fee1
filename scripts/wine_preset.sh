#!/usr/bin/env bash
# Prints the Windows preset whose programs Wine runs on this machine: "windows", the shipped
# 32-bit build, where the kernel runs 32-bit programs; otherwise "windows-x64", the same sources
# built for 64-bit Windows and run by the 64-bit Wine loader. Some kernels are built or booted
# without 32-bit emulation, and there Wine's 32-bit loader cannot even start.
# ZORVEN_WINE32_LOADER names Wine's 32-bit loader where it is not where Debian puts it.
if "${ZORVEN_WINE32_LOADER:-/usr/lib/wine/wine}" --version >/dev/null 2>&1; then
  echo windows
else
  echo windows-x64
fi
