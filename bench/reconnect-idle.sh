#!/usr/bin/env bash
# Idle cost of zorvik-cli run while it waits for an unplugged instrument, beside the idle cost with the
# port open and no data: processor time of all its threads (/proc/PID/task/*/schedstat) and their context
# switches per second (voluntary and not), over S seconds each. zorvik-sim plays the instrument: once it
# sends one value and then nothing, once it sends one value and is unplugged for an hour.
#   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORVIK_BUILD_TESTS=OFF
#   cmake --build build/bench --target zorvik-cli zorvik-sim zspWin
#   bench/reconnect-idle.sh [--seconds S] BUILD
set -euo pipefail

seconds=20
if [[ ${1:-} == --seconds ]]; then
    seconds=$2
    shift 2
fi
[[ $# -eq 1 ]] || { echo "usage: reconnect-idle.sh [--seconds S] BUILD" >&2; exit 2; }
build=$1
for tool in "$build/bin/zorvik-cli" "$build/bin/zorvik-sim"; do
    [[ -x $tool ]] || { echo "reconnect-idle: no $tool (build it first, see the top of this script)" >&2; exit 2; }
done

# The log lines waited for are the English ones.
export ZORVIK_LANGUAGE=en
work=$(mktemp -d "${TMPDIR:-/tmp}/zorvik-reconnect-idle.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# Nanoseconds on a processor and context switches, summed over the threads of a process.
sample() {
    local pid=$1 ns=0 switches=0 task run n
    for task in /proc/"$pid"/task/*; do
        read -r run _ <"$task/schedstat" || continue
        ns=$((ns + run))
        while read -r key n; do
            case $key in voluntary_ctxt_switches:|nonvoluntary_ctxt_switches:) switches=$((switches + n)) ;; esac
        done <"$task/status"
    done
    echo "$ns $switches"
}

# Starts zorvik-cli on PORT with the extra options, waits until LOGGED is in its log, then measures.
measure() {
    local name=$1 port=$2 logged=$3
    shift 3
    "$build/bin/zorvik-cli" --prefs "$work/prefs-$name.txt" run --output stdout "$@" "$port" \
        >"$work/$name.out" 2>"$work/$name.err" &
    local cli=$!
    pids+=("$cli")
    for _ in $(seq 100); do grep -q "$logged" "$work/$name.err" && break; sleep 0.1; done
    grep -q "$logged" "$work/$name.err" || { echo "reconnect-idle: $name never logged \"$logged\"" >&2; cat "$work/$name.err" >&2; exit 1; }
    sleep 1  # what the start left to do
    local before after threads
    read -r -a before <<<"$(sample "$cli")"
    sleep "$seconds"
    read -r -a after <<<"$(sample "$cli")"
    threads=$(ls /proc/"$cli"/task | wc -l)
    awk -v name="$name" -v ns=$((after[0] - before[0])) -v sw=$((after[1] - before[1])) -v s="$seconds" \
        -v threads="$threads" \
        'BEGIN { printf "| %s | %d | %.4f %% of a core | %.2f/s |\n", name, threads, 100 * ns / 1e9 / s, sw / s }'
    kill -INT "$cli"
    wait "$cli" 2>/dev/null || true
}

echo "| zorvik-cli run | threads | idle processor time | wake-ups (context switches) |"
echo "|---|---|---|---|"

# The port open, the instrument silent after its first value.
"$build/bin/zorvik-sim" --quiet --values 1,2 --interval-ms 3600000 >"$work/sim-open.out" 2>/dev/null &
pids+=("$!")
for _ in $(seq 50); do [[ -s $work/sim-open.out ]] && break; sleep 0.1; done
measure "port open, no data" "$(head -1 "$work/sim-open.out")" "^.\{9\}Port "

# The instrument unplugged after its first value, for longer than the measurement.
link=$work/scale
"$build/bin/zorvik-sim" --quiet --values 1,2 --link "$link" --unplug-after 1 --unplug-ms 3600000 \
    >"$work/sim-gone.out" 2>/dev/null &
pids+=("$!")
for _ in $(seq 50); do [[ -s $work/sim-gone.out ]] && break; sleep 0.1; done
measure "waiting for the unplugged instrument" "$link" "Waiting for the instrument" --reconnect
