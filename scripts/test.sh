#!/usr/bin/env bash
# Builds everything and runs every test: natively, natively with sanitizers, and the Windows
# build under Wine (unit tests and the end-to-end suite). Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

# Quick when nothing is missing: it only asks dpkg.
bash scripts/setup.sh

# A kernel without 32-bit support cannot start 32-bit Wine at all. There the Windows tests run on
# the windows64 build of the same sources under 64-bit Wine, and of the 32-bit build only the
# checks of its program file, which need no Wine.
presets=(native native-asan windows)
wine_preset=windows
if ! wine --version >/dev/null 2>&1; then
  echo "NOTE: 32-bit Wine does not run on this machine (no 32-bit code execution):" \
       "the Windows tests run on the windows64 build; of the 32-bit build only its program-file checks"
  presets+=(windows64)
  wine_preset=windows64
fi

status=0
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

# One wineserver for the whole Windows run; ended by its own prefix when the run is over.
wineprefix="$PWD/build/$wine_preset/wineprefix"
cleanup() { WINEPREFIX="$wineprefix" wineserver -k 2>/dev/null || true; }
trap cleanup EXIT

for preset in "${presets[@]}"; do
  echo "== ctest --preset $preset"
  if [ "$preset" = windows ] && [ "$wine_preset" = windows64 ]; then
    ctest --preset windows -R '^ui_program_' || status=1
  else
    ctest --preset "$preset" || status=1
  fi
done
exit $status
