#!/bin/sh
# X-client latency and idle cost of zorvik-cli against the reference wedge, side by side in one run on a
# private Xvfb. Each BUILD is a Release build folder with the benchmarks on; the reference wedge and the
# measuring program come from the first one. Further BUILDs (an older version, say) run alongside: all
# wedges are started together and take the lines in turns, in an order shuffled for every round.
#   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORVIK_BUILD_BENCH=ON
#   cmake --build build/bench --target zorvik-cli zspWin ReferenceWedge KeyLatencyBench
#   bench/key-latency-bench.sh [--lines N] [--idle S] [--gap MS] build/bench [NAME=OTHER_BUILD]...
set -eu

# Arguments of KeyLatencyBench, separated by |, so that the commands keep their blanks.
list=""
while [ $# -gt 0 ]; do
    case $1 in
        --lines|--idle|--gap) list="$list$1|$2|"; shift 2 ;;
        *) break ;;
    esac
done
[ $# -ge 1 ] || { echo "usage: key-latency-bench.sh [--lines N] [--idle S] [--gap MS] BUILD [NAME=BUILD]..." >&2; exit 2; }
build=$1; shift
for tool in "$build/bench/ReferenceWedge" "$build/bench/KeyLatencyBench" "$build/bin/zorvik-cli"; do
    [ -x "$tool" ] || { echo "key-latency-bench: no $tool (build it first, see the top of this script)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/zorvik-key-bench.XXXXXX")
xvfb=""
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# Xvfb picks a free display number and writes it to the descriptor it is given.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "key-latency-bench: Xvfb did not start" >&2; exit 1; }
DISPLAY=:$(cat "$work/display")
export DISPLAY

# The number preset reads the lines as they come; no pause between key events; Enter after every value.
zorvik() {
    echo "$1/bin/zorvik-cli --prefs $work/prefs-$2.txt run --output keys --set instrument=GENERIC \
--set inputTerminator=13 --set delay=0 --set outputTerminator=ENTER {tty}"
}

list="${list}reference=$build/bench/ReferenceWedge {tty}"
set -- "zorvik=$build" "$@"
for entry in "$@"; do
    name=${entry%%=*}
    dir=${entry#*=}
    [ -x "$dir/bin/zorvik-cli" ] || { echo "key-latency-bench: no $dir/bin/zorvik-cli" >&2; exit 2; }
    list="$list|$name=$(zorvik "$(cd "$dir" && pwd)" "$name")"
done

IFS='|'
# shellcheck disable=SC2086
"$build/bench/KeyLatencyBench" $list
