#!/bin/sh
# End-to-end replay benchmark: generates a capture of LINES lines (default 1 000 000) and replays it with
# zorvik-cli under /usr/bin/time -v for three settings, printing wall time, CPU time, peak memory and lines
# per second. Use a release build:
#   cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build build/release --target zorvik-cli
#   bench/replay-bench.sh build/release/bin/zorvik-cli
set -eu

cli=${1:-build/release/bin/zorvik-cli}
lines=${2:-1000000}
[ -x "$cli" ] || { echo "replay-bench: no zorvik-cli at $cli (build it first, see the top of this script)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "replay-bench: needs /usr/bin/time (Debian package time)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zorvik-replay-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

# A&D scale lines ending in CR LF with changing weights; every 7th repeats the one before, every 1000th is
# an overload message without a value.
awk -v n="$lines" 'BEGIN {
    for (i = 0; i < n; i++) {
        if (i % 1000 == 999) { printf "OL, ------- kg\r\n"; continue }
        j = (i % 7 == 6) ? i - 1 : i
        printf "ST,%+010.2f kg\r\n", (j * 3779 % 2000000) / 100.0 - 10000.0
    }
}' > "$work/scale.bin"
awk -v n="$lines" 'BEGIN { for (i = 0; i < n; i++) printf "40063813%05d-LOT/A\r", i % 100000 }' > "$work/codes.bin"

run() {
    name=$1; capture=$2; shift 2
    /usr/bin/time -v "$cli" --prefs "$work/prefs.txt" replay "$@" "$capture" > "$work/out.jsonl" 2> "$work/time.txt"
    out=$(wc -l < "$work/out.jsonl")
    awk -v name="$name" -v out="$out" -v n="$lines" -F': ' '
        /Elapsed \(wall clock\)/ { split($2, t, ":"); wall = (length(t) == 3) ? t[1]*3600 + t[2]*60 + t[3] : t[1]*60 + t[2] }
        /User time/ { user = $2 } /System time/ { sys = $2 } /Maximum resident/ { rss = $2 }
        END { cpu = user + sys
              printf "%-34s %8d lines  wall %5.2f s  user %5.2f s  sys %4.2f s  peak %5.1f MiB  %8.0f lines/s wall, %8.0f lines/s CPU\n",
                     name, out, wall, user, sys, rss / 1024, (wall > 0 ? n / wall : 0), (cpu > 0 ? n / cpu : 0) }' "$work/time.txt"
}

echo "zorvik-cli replay, $lines lines, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
run "A&D, terminator LF" "$work/scale.bin" --set instrument=AND --set inputTerminator=10
run "generic, round 2 + multiply, dups" "$work/scale.bin" --set instrument=GENERIC --set inputTerminator=10 \
    --set decimalPlaces=2 --set mathOperation=MULTIPLY --set mathOperand=0.45359237 \
    --set ignoreDuplicates=true --set ignoreTimeLimit=1000 --set ignoreDifference=0.05 --clock-step 100
run "text preset, terminator CR" "$work/codes.bin" --set instrument=BARCODE_ALPHA_COMPLETE --set inputTerminator=13
