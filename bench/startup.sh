#!/usr/bin/env bash
# startup - how long the real program takes from exec to its first painted frame on the
# desktop backend, under a private X server (Xvfb) with a private PulseAudio server.
#
#   build/test/bench/startup [--runs N] [--program PATH]
#
# Each run execs the program with TABLADEX_TRACE_FIRST_FRAME=1, which makes the desktop
# backend print the wall-clock time at which it paints its first frame; the time of the exec
# is taken in the forked shell just before it becomes the program. The moment the window is
# mapped comes from the X server itself (xev watching the root window for MapNotify), so it
# costs the program nothing. Prints each run (with the processor time the program had used
# by its first frame), the median and the range, and last:
#   RESULT first_frame_ms=<median> window_mapped_ms=<median> first_frame_cpu_ms=<median>
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program=""
runs=7
while [ $# -gt 0 ]; do
  case $1 in
    --program) program=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) echo "usage: $0 [--runs N] [--program PATH]" >&2; exit 2 ;;
  esac
done
[ -x "$program" ] || { echo "$0: no program at '$program' (give --program PATH)" >&2; exit 2; }

. "$here/desktop_session.sh"
session_need xev
session_start

# Milliseconds between two wall-clock times in microseconds.
elapsed_ms() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b - a) / 1000 }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "program: $program"
echo "display: $DISPLAY (Xvfb), sound: $SESSION_SOUND, load: $(cut -d' ' -f1-3 /proc/loadavg)"
ticks_per_second=$(getconf CLK_TCK)
frames=()
maps=()
cpus=()
# Every window mapped on the display, stamped as the X server reports it.
coproc WATCH { exec stdbuf -oL xev -root -event substructure; }
# Kept apart from the coprocess's variables, which bash clears should xev end early.
watch_pid=$WATCH_PID
exec {watch}<&"${WATCH[0]}"
sleep 0.5
for run in $(seq "$runs"); do
  err="$SESSION_DIR/run$run.err"
  : >"$err"
  # Lines xev printed since the last run (the last program's windows going away).
  while read -r -t 0.05 -u "$watch" line; do :; done
  started="$SESSION_DIR/run$run.exec"
  (
    cd "$SESSION_DIR"
    now=${EPOCHREALTIME/./}
    echo "$now" >"$started"
    TABLADEX_TRACE_FIRST_FRAME=1 exec "$program" 2>"$err"
  ) &
  pid=$!
  mapped=""
  painted=""
  partial=""
  deadline=$((SECONDS + 15))
  # Shell built-ins only in this loop, so that it takes as little as it can from the
  # program it is timing; the wait for xev's next line is the loop's pause.
  while [ -z "$painted" ] && [ $SECONDS -lt $deadline ] && kill -0 "$pid" 2>/dev/null; do
    # A read that times out keeps the part of a line it got; the rest comes with the next.
    if read -r -t 0.002 -u "$watch" line; then
      line=$partial$line
      partial=""
      [ -z "$mapped" ] && case $line in MapNotify*) mapped=${EPOCHREALTIME/./} ;; esac
    else
      partial=$partial$line
    fi
    while read -r line; do
      case $line in "tabladex: first frame painted at "*) painted=${line#*at }; painted=${painted% us} ;; esac
    done <"$err"
  done
  # The processor time it took to get there (all threads, in clock ticks): unlike the
  # elapsed time, it hardly depends on what else the machine is doing.
  ticks=$(session_cpu_ticks "$pid" 2>/dev/null || echo 0)
  if [ -z "$painted" ]; then
    echo "run $run: no first frame within 15 s; the program said:" >&2
    cat "$err" >&2
    kill -9 "$pid" 2>/dev/null || true
    exit 1
  fi
  exec_us=$(<"$started")
  frame_ms=$(elapsed_ms "$exec_us" "$painted")
  map_ms=$( [ -n "$mapped" ] && elapsed_ms "$exec_us" "$mapped" || echo nan)
  cpu_ms=$((ticks * 1000 / ticks_per_second))
  echo "run $run: window mapped ${map_ms} ms, first frame painted ${frame_ms} ms after exec," \
    "${cpu_ms} ms of processor time"
  frames+=("$frame_ms")
  maps+=("$map_ms")
  cpus+=("$cpu_ms")
  # The program ends at once on SIGKILL; its start-up is all that is measured here.
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
done

kill "$watch_pid" 2>/dev/null || true
wait "$watch_pid" 2>/dev/null || true

# A run whose map was not seen counts for the first frame only.
frame_median=$(printf '%s\n' "${frames[@]}" | median)
map_median=$(printf '%s\n' "${maps[@]}" | grep -v nan | median)
frame_range=$(printf '%s\n' "${frames[@]}" | sort -n | sed -n '1p;$p' | paste -sd-)
map_range=$(printf '%s\n' "${maps[@]}" | grep -v nan | sort -n | sed -n '1p;$p' | paste -sd-)
cpu_median=$(printf '%s\n' "${cpus[@]}" | median)
echo "window mapped: median ${map_median} ms (range ${map_range})"
echo "first frame: median ${frame_median} ms (range ${frame_range}), processor time to it: median ${cpu_median} ms"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "RESULT first_frame_ms=$frame_median window_mapped_ms=$map_median first_frame_cpu_ms=$cpu_median"
