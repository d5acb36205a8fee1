#!/usr/bin/env bash
# Builds everything and runs every test: natively, natively with sanitizers (AddressSanitizer and
# UndefinedBehaviorSanitizer; ThreadSanitizer), the shipped 32-bit Windows build under Wine (unit
# tests and the end-to-end suite; in an emulated machine where this kernel runs no 32-bit
# programs, see docs/testing.md), and each fuzz target for a few seconds over its seeds (clang; in
# a ctest run of their own, after the timing-bound tests). Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

# Quick when nothing is missing: it only asks dpkg.
bash scripts/setup.sh

# The shipped program is the 32-bit build. Where this kernel cannot run 32-bit programs, the
# Windows tests run first on the 64-bit build of the same sources under wine64 (quick), then on
# the shipped build in an emulated x86-64 machine; the 32-bit program's file checks (which run
# nothing) run here.
wine_preset="$(bash scripts/wine_preset.sh)"

# One wineserver per Wine prefix for the whole run; each ended by its own prefix at the end.
cleanup() {
  for preset in windows "$wine_preset"; do
    if [ -d "build/$preset/wineprefix" ]; then
      WINEPREFIX="$PWD/build/$preset/wineprefix" wineserver -k 2>/dev/null || true
    fi
  done
}
trap cleanup EXIT

# Each workflow preset configures, builds and tests one build tree (CMakePresets.json).
status=0
workflow() {
  echo "== cmake --workflow --preset $1"
  cmake --workflow --preset "$1" || status=1
}

for preset in native native-asan native-tsan; do
  workflow "$preset"
done
if [ "$wine_preset" = windows ]; then
  workflow windows
else
  echo "== this kernel runs no 32-bit programs: the shipped 32-bit build's files are checked here,"
  echo "== the Windows tests run on the 64-bit build under wine64, then on the shipped build in an"
  echo "== emulated x86-64 machine"
  workflow windows-program-file
  workflow "$wine_preset"
  # Every other test of the shipped build. The machine is stopped after 40 minutes, which keeps
  # the whole run inside CI's 90 even when the machine's image is built first (about 7 minutes).
  echo "== the shipped 32-bit build in an emulated x86-64 machine: ctest --preset windows -LE program-file"
  ZORVEN_GUEST_TIMEOUT="${ZORVEN_GUEST_TIMEOUT:-2400}" bash scripts/test-shipped.sh -LE program-file || status=1
fi
# The fuzz targets last, alone: they keep both cores busy.
workflow fuzz
exit $status
