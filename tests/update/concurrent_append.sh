#!/bin/sh
# Several updater processes append to one production log at the same moment: every line must
# arrive whole and exactly once.
# Usage: concurrent_append.sh <runner or ""> <append_lines program> <work dir> <writers> <lines>
set -u
runner=$1 prog=$2 dir=$3 writers=$4 lines=$5
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir" || exit 1

pids=""
w=0
while [ "$w" -lt "$writers" ]; do
  $runner "$prog" sn_build.txt "$w" "$lines" &
  pids="$pids $!"
  w=$((w + 1))
done
rc=0
for p in $pids; do
  wait "$p" || rc=1
done
[ "$rc" -eq 0 ] || { echo "a writer failed"; exit 1; }

# Each line: W<w>;L<i>;<20 + i % 50 x's>CR, exactly once per (w, i).
awk -v writers="$writers" -v lines="$lines" '
  BEGIN { bad = 0 }
  {
    if (match($0, /^W[0-9]+;L[0-9]+;x+\r$/) == 0) { print "torn line " NR ": " $0; bad = 1; next }
    split($0, f, ";")
    w = substr(f[1], 2) + 0; i = substr(f[2], 2) + 0
    if (length(f[3]) != 20 + i % 50 + 1) { print "wrong length at line " NR; bad = 1 }
    seen[w ";" i]++
  }
  END {
    for (w = 0; w < writers; w++)
      for (i = 0; i < lines; i++)
        if (seen[w ";" i] != 1) { print "W" w " L" i " seen " seen[w ";" i] + 0 " times"; bad = 1 }
    if (NR != writers * lines) { print NR " lines, expected " writers * lines; bad = 1 }
    exit bad
  }' sn_build.txt
