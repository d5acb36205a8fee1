#!/usr/bin/env bash
# Builds everything and runs every test: natively, natively with sanitizers (AddressSanitizer and
# UndefinedBehaviorSanitizer; ThreadSanitizer), and the Windows build under Wine (unit tests and
# the end-to-end suite). Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

# Quick when nothing is missing: it only asks dpkg.
bash scripts/setup.sh

status=0
for preset in native native-asan native-tsan windows; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

# One wineserver for the whole Windows run; ended by its own prefix when the run is over.
wineprefix="$PWD/build/windows/wineprefix"
cleanup() { WINEPREFIX="$wineprefix" wineserver -k 2>/dev/null || true; }
trap cleanup EXIT

for preset in native native-asan native-tsan windows; do
  echo "== ctest --preset $preset"
  ctest --preset "$preset" || status=1
done
exit $status
