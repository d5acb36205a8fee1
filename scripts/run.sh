#!/usr/bin/env bash
# The main job: one full firmware update of the virtual printer by zorven.exe under Wine.
#
#   bash scripts/run.sh [--baud N]
#
# Installs what is missing, builds the Windows preset, starts the virtual printer on a pty that
# COM5 of the build tree's Wine prefix leads to (build/windows/ports/COM5) and runs zorven.exe.
# With $DISPLAY set the program opens on that display and the operator picks COM5 and presses
# START; without it the program runs on a private Xvfb and this script picks COM5 and presses
# START itself. At the end it prints the dialog's log list, the production log line, the time the
# update took and the path of a screenshot. --baud N makes the printer pace its line at N baud
# (and, headless, selects that speed in the dialog); by default the line is as fast as the pty.
set -euo pipefail
cd "$(dirname "$0")/.."
# The Python scripts import the shared test package tests/zorvenkit.
export PYTHONPATH="$PWD/tests${PYTHONPATH:+:$PYTHONPATH}"

bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows

# Where this kernel runs no 32-bit programs, the update runs the 64-bit build of the same sources.
preset="$(bash scripts/wine_preset.sh)"
if [ "$preset" != windows ]; then
  echo "this kernel runs no 32-bit programs: running the 64-bit build ($preset) of the same sources"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
fi
exec python3 scripts/run_update.py --build-dir "build/$preset" "$@"
