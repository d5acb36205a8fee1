#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target (or the ones named) for the given number of
# seconds each (default 60), one after another in one process each, on a copy of its seed corpus
# in build/fuzz/runs/<time>/. Prints each target's executions, coverage and corpus at the end;
# a target that finds a crash or a violated property fails the script, and the input is kept in
# build/fuzz/runs/<time>/crashes/.
#
#   scripts/fuzz.sh [seconds] [target...]   e.g. scripts/fuzz.sh 600 update_run
#   --merge      afterwards add the run's inputs that reach new coverage to tests/fuzz/corpus
#                (the seeds in the repository never grow otherwise)
#   --coverage   afterwards replay each run corpus through a build with source coverage
#                (preset fuzz-coverage) and print the line and branch coverage of the core
set -euo pipefail
cd "$(dirname "$0")/.."

all=(line_read block_read identification_query entry_handshake update_run package_record)
seconds=60
merge=0
coverage=0
targets=()
for arg in "$@"; do
  case "$arg" in
    --merge) merge=1 ;;
    --coverage) coverage=1 ;;
    ''|*[!0-9]*) targets+=("$arg") ;;
    *) seconds=$arg ;;
  esac
done
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

run_dir=build/fuzz/runs/$(date -u +%Y%m%dT%H%M%SZ)
mkdir -p "$run_dir/crashes"
echo "run folder: $run_dir"
status=0
for t in "${targets[@]}"; do
  bin=build/fuzz/tests/fuzz/fuzz_$t
  corpus=$run_dir/corpus/$t
  mkdir -p "$corpus"
  cp tests/fuzz/corpus/"$t"/* "$corpus"/
  echo "== fuzz_$t, ${seconds} s"
  if ! "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$run_dir/crashes/$t-" "$corpus" >"$run_dir/$t.log" 2>&1; then
    status=1
    echo "   FAILED; the log is $run_dir/$t.log"
    grep -m3 -E 'property violated|ERROR:|runtime error' "$run_dir/$t.log" | sed 's/^/   /' || true
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb' \
    "$run_dir/$t.log" | sed 's/^/   /' || true
  echo "   corpus: $(find "$corpus" -type f | wc -l) inputs"
  if [ $merge = 1 ]; then
    "$bin" -merge=1 tests/fuzz/corpus/"$t" "$corpus" >"$run_dir/$t.merge.log" 2>&1
    echo "   seeds now: $(find tests/fuzz/corpus/"$t" -type f | wc -l)"
  fi
done

if [ $coverage = 1 ]; then
  cmake --preset fuzz-coverage >/dev/null
  cmake --build --preset fuzz-coverage
  cov=build/fuzz-coverage/tests/fuzz
  objects=()
  for t in "${targets[@]}"; do
    LLVM_PROFILE_FILE="$run_dir/$t.profraw" "$cov/fuzz_$t" -runs=0 "$run_dir/corpus/$t" >/dev/null 2>&1
    objects+=(-object "$cov/fuzz_$t")
  done
  llvm-profdata merge -sparse "$run_dir"/*.profraw -o "$run_dir/all.profdata"
  echo "== source coverage of the core by the run corpora"
  llvm-cov report "${objects[@]:1}" -instr-profile="$run_dir/all.profdata" \
    -compilation-dir="$PWD" -ignore-filename-regex='(^|/)(tests|usr)/'
fi
exit $status
