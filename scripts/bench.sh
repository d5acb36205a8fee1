#!/usr/bin/env bash
# Transfer benchmark of zorven.exe (under Wine) against the virtual printer. It reports figures
# and passes or fails nothing; docs/benchmark.md explains every figure.
#
#   bash scripts/bench.sh [--no-build]
#   ZORVEN_BENCH_BASELINE=path/to/old/zorven.exe bash scripts/bench.sh --no-build
#
# (a) paced: the printer paces its line at 115200 baud (10 bits a byte both ways); the update
#     time is set beside the wire-time limit of the whole exchange.
# (b) instant: the printer answers as fast as the pty goes; blocks per second, time per block and
#     bytes per second over the block phase, beside XMODEM-1K CRC (lrzsz sx -k to rx), each
#     on its own pty with a relay between them that keeps rx's input purge from eating blocks,
#     in the same run, its steady state taken from two file sizes.
# (c) the updater's CPU time during the paced run as a share of wall time, and its peak memory.
# Beside zorven.exe, in the same run: a bare block loop without a dialog (the platform's floor),
# zorven-timed.exe (each step of a block's pass timed), the printer's own lateness and the
# updater's turnaround per block, and the start-up time against a minimal dialog program.
# (d) zorven-cli natively: four printers paced at 115200 baud updated at once, the wall time beside
#     one printer's wire-time limit and the CPU time per port.
# (e) zorven-cli natively at instant speed: its block rate beside XMODEM-1K of the same run.
# (g) zorven-cli station natively on 4 and 8 ports, three printers each, paced at 115200 baud:
#     printers per hour beside the ideal, and the station's handling time per printer.
set -euo pipefail
cd "$(dirname "$0")/.."
# The Python scripts import the shared test package tests/zorvenkit.
export PYTHONPATH="$PWD/tests${PYTHONPATH:+:$PYTHONPATH}"

# The 32-bit build where this kernel runs 32-bit programs, else the 64-bit build of the same sources.
preset="$(bash scripts/wine_preset.sh)"
if [ "${1:-}" != "--no-build" ]; then
  bash scripts/setup.sh
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  cmake --preset native >/dev/null
  cmake --build --preset native
fi
# ZORVEN_BENCH_BASELINE: an earlier zorven.exe, measured in turn with the current one.
baseline=()
if [ -n "${ZORVEN_BENCH_BASELINE:-}" ]; then
  baseline=(--baseline "$ZORVEN_BENCH_BASELINE")
fi
python3 scripts/bench_update.py --build-dir "${ZORVEN_BENCH_BUILD:-build/$preset}" "${baseline[@]}"
python3 scripts/bench_cli.py --build-dir "${ZORVEN_BENCH_NATIVE_BUILD:-build/native}"
exec python3 scripts/bench_station.py --build-dir "${ZORVEN_BENCH_NATIVE_BUILD:-build/native}"
