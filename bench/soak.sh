#!/usr/bin/env bash
# Soak run: zorvik-cli run --output stdout against zorvik-sim, round after round, for a given time.
# Every round starts a new virtual instrument and a new run on its terminal; the instrument sends a ramp
# of distinct values with a garbage line every G lines and leaves the last value without terminator, then
# closes the terminal, which ends the run as a lost port. Rounds alternate between full speed and a pause
# in the middle of every line. Per round and in total it reports the values expected and received (none
# may be lost, doubled or changed; the last one must be reported as unsent), the resident memory and the
# open descriptors of zorvik-cli shortly after its start and just before its end, and its processor time.
#
# Usage: bench/soak.sh [--minutes M] [--lines N] [--paused-lines P] [--garbage-every G] [BUILD]
#   BUILD           folder with bin/zorvik-cli, bin/zorvik-sim and bin/libzspWin.so (default
#                   build/release-werror, as scripts/test builds it; an optimised build is what to soak)
#   --minutes M     how long to go on starting rounds (default 10, or SOAK_MINUTES)
#   --lines N       values in a full-speed round (default 500000)
#   --paused-lines P  values in a round with a 1 ms pause in the middle of every line (default 2000)
#   --garbage-every G (default 50)
# Exit status 0 when every round received exactly what it should and the descriptors stayed flat.
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=${SOAK_MINUTES:-10}
lines=500000
pausedLines=2000
garbageEvery=50
build=build/release-werror
while [ $# -gt 0 ]; do
  case $1 in
    --minutes) minutes=$2; shift 2 ;;
    --lines) lines=$2; shift 2 ;;
    --paused-lines) pausedLines=$2; shift 2 ;;
    --garbage-every) garbageEvery=$2; shift 2 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "soak: unknown option $1" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done
cli=$build/bin/zorvik-cli
sim=$build/bin/zorvik-sim
for tool in "$cli" "$sim" "$build/bin/libzspWin.so"; do
  [ -e "$tool" ] || { echo "soak: $tool is missing; build zorvik-cli zorvik-sim zspWin in $build" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "soak: needs /usr/bin/time (Debian package time)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zorvik-soak.XXXXXX")
simPid=
cleanup() {
  [ -n "$simPid" ] && kill "$simPid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The n-th value of a ramp from 0.01 in steps of 0.01, as zorvik-sim writes it.
expectedValues() { # first last
  awk -v a="$1" -v b="$2" 'BEGIN { for (i = a; i <= b; i++) printf "%d.%02d\n", int(i / 100), i % 100 }'
}
asValue() { expectedValues "$1" "$1"; }

# Resident KiB and open descriptors of a process, every 0.2 s from its first value on until it ends: the
# first and the last line are its start and its end.
sample() { # pid file values
  while [ -d "/proc/$1" ] && [ ! -s "$3" ]; do sleep 0.01; done
  while [ -d "/proc/$1" ]; do
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null) || break
    fds=$(ls "/proc/$1/fd" 2>/dev/null | wc -l) || break
    [ -n "$rss" ] && echo "$rss $fds" >> "$2"
    sleep 0.2
  done
}

echo "soak: $minutes min, rounds of $lines values at full speed and $pausedLines with a pause mid-line," \
     "garbage every $garbageEvery lines; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%5s %-6s %9s %9s %7s %7s %6s %15s %9s %8s\n' round mode expected received lost changed unsent \
       "RSS KiB start-end" "fds" "CPU s"
deadline=$(awk -v m="$minutes" -v now="$(date +%s)" 'BEGIN { printf "%d", now + m * 60 }')
next=1 round=0 failures=0
totalExpected=0 totalReceived=0 totalLost=0 totalChanged=0 totalCpu=0
rounds=$work/rounds
: > "$rounds"
start=$(date +%s.%N)
while [ "$(date +%s)" -lt "$deadline" ]; do
  round=$((round + 1))
  if [ $((round % 2)) -eq 1 ]; then mode=fast count=$lines pause=0; else mode=paused count=$pausedLines pause=1; fi
  first=$next last=$((next + count - 1)) next=$((last + 1))
  r=$work/round
  rm -f "$r".*
  "$sim" --format generic --from "$(asValue "$first")" --to "$(asValue "$last")" --step 0.01 \
         --interval-ms 0 --pause-mid-line "$pause" --garbage-every "$garbageEvery" --no-terminator-last \
         --quiet > "$r.sim" 2> "$r.simerr" &
  simPid=$!
  for _ in $(seq 100); do [ -s "$r.sim" ] && break; sleep 0.05; done
  pty=$(head -1 "$r.sim")
  [ -n "$pty" ] || { echo "soak: zorvik-sim named no terminal" >&2; cat "$r.simerr" >&2; exit 1; }

  ZORVIK_LANGUAGE=en /usr/bin/time -f '%U %S' -o "$r.time" \
    "$cli" --prefs "$work/prefs.txt" run --set instrument=GENERIC --set inputTerminator=13 --output stdout "$pty" \
    > "$r.out" 2> "$r.err" &
  timePid=$!
  cliPid=
  for _ in $(seq 100); do
    cliPid=$(cat "/proc/$timePid/task/$timePid/children" 2>/dev/null | awk '{ print $1 }') || true
    [ -n "$cliPid" ] && break
    sleep 0.01
  done
  [ -n "$cliPid" ] && sample "$cliPid" "$r.samples" "$r.out" &
  samplerPid=$!
  status=0
  wait "$timePid" || status=$?
  wait "$simPid" || true
  simPid=
  wait "$samplerPid" || true
  # The run logs every line it received; the rest of its log tells how it ended.
  grep -av '<13>$' "$r.err" > "$r.log" || true

  expectedValues "$first" $((last - 1)) > "$r.expected"
  expected=$((count - 1))
  received=$(wc -l < "$r.out")
  if cmp -s "$r.expected" "$r.out"; then
    lost=0 changed=0
  else
    lost=$(diff "$r.expected" "$r.out" | grep -c '^<' || true)
    changed=$(diff "$r.expected" "$r.out" | grep -c '^>' || true)
  fi
  unsent=no
  grep -aq "not processed: $(asValue "$last")\$" "$r.log" && unsent=yes
  cpu=$(tail -1 "$r.time" | awk '{ print $1 + $2 }')
  read -r rss0 fds0 < <(head -1 "$r.samples" 2>/dev/null || echo "? ?")
  read -r rss1 fds1 < <(tail -1 "$r.samples" 2>/dev/null || echo "? ?")
  printf '%5d %-6s %9d %9d %7d %7d %6s %15s %9s %8s\n' "$round" "$mode" "$expected" "$received" "$lost" \
         "$changed" "$unsent" "$rss0-$rss1" "$fds0-$fds1" "$cpu"
  # A run ends with status 1 when its port is lost; anything else, or a value astray, fails the soak.
  if [ "$status" -ne 1 ] || [ "$lost" -ne 0 ] || [ "$changed" -ne 0 ] || [ "$unsent" != yes ] ||
     ! grep -aq 'lost (instrument unplugged or port closed)' "$r.log"; then
    failures=$((failures + 1))
    echo "soak: round $round failed (exit status $status); its log:" >&2
    tail -20 "$r.log" >&2
  fi
  totalExpected=$((totalExpected + expected)) totalReceived=$((totalReceived + received))
  totalLost=$((totalLost + lost)) totalChanged=$((totalChanged + changed))
  totalCpu=$(awk -v a="$totalCpu" -v b="$cpu" 'BEGIN { print a + b }')
  echo "$mode $rss0 $rss1 $fds0 $fds1" >> "$rounds"
  # The last sample may fall after the port was closed: fewer descriptors then are no fault.
  if [ "$fds0" = "?" ] || [ "$fds1" -gt "$fds0" ]; then
    failures=$((failures + 1))
    echo "soak: round $round ended with $fds1 open descriptors, started with $fds0" >&2
  fi
done
wall=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.0f", e - s }')
echo "soak: $round rounds in $wall s: values expected $totalExpected, received $totalReceived," \
     "lost $totalLost, changed or extra $totalChanged"
# Memory per kind of round: at the start and at the end of each run (median, least and most), and the
# median at the end of the first and of the last third of the rounds, which shows any growth over time.
for mode in fast paused; do
  awk -v mode="$mode" '$1 == mode && $2 != "?" { n++; s[n] = $2; e[n] = $3; f = (f > $5 ? f : $5) }
    function median(a, from, to,   i, j, k, t, m) {
      m = 0; for (i = from; i <= to; i++) b[++m] = a[i]
      for (i = 2; i <= m; i++) for (j = i; j > 1 && b[j - 1] > b[j]; j--) { t = b[j]; b[j] = b[j - 1]; b[j - 1] = t }
      k = b[int((m + 1) / 2)]; lo = b[1]; hi = b[m]; return k }
    END {
      if (n == 0) exit
      ms = median(s, 1, n); s0 = lo; s1 = hi; me = median(e, 1, n); e0 = lo; e1 = hi
      third = int(n / 3); if (third < 1) third = 1
      early = median(e, 1, third); late = median(e, n - third + 1, n)
      printf "soak: %s runs (%d): resident KiB at start %d (%d-%d), at end %d (%d-%d); end, first third %d," \
             " last third %d; at most %d descriptors\n", mode, n, ms, s0, s1, me, e0, e1, early, late, f }' "$rounds"
done
awk -v c="$totalCpu" -v n="$totalReceived" -v w="$wall" 'BEGIN {
  printf "soak: zorvik-cli processor time %.1f s (%.2f us per value, %.0f%% of one core over the soak)\n",
         c, (n > 0 ? c * 1e6 / n : 0), (w > 0 ? 100 * c / w : 0) }'
if [ "$failures" -ne 0 ]; then
  echo "soak: FAILED ($failures problems)" >&2
  exit 1
fi
echo "soak: passed"
