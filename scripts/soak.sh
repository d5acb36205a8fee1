#!/usr/bin/env bash
# A long soak of zorven.exe under Wine: N updates in one dialog, the virtual printer's fault
# changing from run to run (see tests/e2e/soak.py), and the program's memory, handles and USER/GDI
# objects sampled after every run. Ends non-zero if any run ended wrongly or a figure grew.
#
#   scripts/soak.sh N [--full] [--preset P] [--com C] [--warmup W] [--samples FILE.csv]
#
# By default the program carries the small end-to-end package (5000 bytes, 10 blocks); --full
# soaks the program with its 655,360-byte package. The preset is the one Wine runs on this machine
# (scripts/wine_preset.sh: the 32-bit build, or its 64-bit twin where the kernel runs no 32-bit
# programs); its build tree is built first.
set -euo pipefail
cd "$(dirname "$0")/.."
# The Python scripts import the shared test package tests/zorvenkit.
export PYTHONPATH="$PWD/tests${PYTHONPATH:+:$PYTHONPATH}"

usage() { sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
[ $# -ge 1 ] || usage
runs="$1"; shift
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || usage
preset="$(bash scripts/wine_preset.sh)"
full=0
com=12
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --full) full=1 ;;
    --preset) preset="$2"; shift ;;
    --com) com="$2"; shift ;;
    --samples) extra+=(--samples "$2"); shift ;;
    --warmup) extra+=(--warmup "$2"); shift ;;
    *) usage ;;
  esac
  shift
done

build="build/$preset"
[ -f "$build/build.ninja" ] || cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null
if [ "$full" = 1 ]; then
  program="$build/ui/zorven.exe"; package="$build/packages/default.bin"
else
  program="$build/tests/e2e/zorven-e2e-v4_small.exe"; package="$build/packages/e2e_v4_small.bin"
fi
exec python3 tests/e2e/soak.py --build-dir "$build" --program "$program" --package "$package" \
  --com "$com" --runs "$runs" "${extra[@]}"
