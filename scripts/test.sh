#!/usr/bin/env bash
# Builds everything and runs every test: natively, natively with sanitizers, the Windows build
# under Wine (unit tests and the end-to-end suite), and each fuzz target for a few seconds over its
# seeds (clang; in a ctest run of their own, after the timing-bound tests). Installs what is
# missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

# Quick when nothing is missing: it only asks dpkg.
bash scripts/setup.sh

status=0
for preset in native native-asan windows fuzz; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

# One wineserver for the whole Windows run; ended by its own prefix when the run is over.
wineprefix="$PWD/build/windows/wineprefix"
cleanup() { WINEPREFIX="$wineprefix" wineserver -k 2>/dev/null || true; }
trap cleanup EXIT

for preset in native native-asan windows fuzz; do
  echo "== ctest --preset $preset"
  ctest --preset "$preset" || status=1
done
exit $status
