#!/bin/sh
# Builds the program a second time, from the same sources and settings but in another build
# folder, and compares the two files byte for byte: a factory checks the program by its checksum,
# so neither the build folder nor the time of the build may show in it.
#
# usage: reproducible_build.sh SOURCE_DIR WORK_DIR REFERENCE_EXE TARGET [-Dcache=value ...]
set -eu
src=$1 work=$2 reference=$3 target=$4
shift 4

# The second tree keeps its state between runs, so that later runs only rebuild what changed.
cmake -S "$src" -B "$work" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release -DZORVEN_TESTS=OFF \
  "$@" >"$work.configure.log" 2>&1 || { cat "$work.configure.log"; exit 1; }
cmake --build "$work" --target "$target" -j2 >"$work.build.log" 2>&1 || { tail -50 "$work.build.log"; exit 1; }

second=$(find "$work/ui" "$work/cli" -maxdepth 1 -name "$target.exe" 2>/dev/null | head -n 1)
[ -n "$second" ] || { echo "FAIL: $target.exe not built in $work"; exit 1; }
if cmp "$reference" "$second"; then
  echo "ok: $reference and $second are identical"
else
  echo "FAIL: builds in two folders differ"
  exit 1
fi
