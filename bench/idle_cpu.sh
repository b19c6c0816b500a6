#!/usr/bin/env bash
# idle_cpu - what the whole program costs while a learner merely has it open: the real
# program on the desktop backend, under a private X server (Xvfb) with a private PulseAudio
# server, driven from outside as a user would (xdotool: File > Open Rhythm File, the path
# typed into the file chooser, then a click on Play).
#
#   build/test/bench/idle_cpu [--seconds N] [--rhythm FILE] [--program PATH]
#
# Measures the process's user + system time (from /proc/PID/stat, which keeps the time of
# threads that have ended) over N seconds (10) stopped with the rhythm loaded, then over N
# seconds playing, as percent of one core, with each thread's share; then the peak resident
# memory (VmHWM). When parec is at hand it checks that the sink really carried the strokes.
# Last line:
#   RESULT idle_cpu_percent=<stopped> play_cpu_percent=<playing> peak_rss_mb=<VmHWM>
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program=""
seconds=10
rhythm=""
while [ $# -gt 0 ]; do
  case $1 in
    --program) program=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --rhythm) rhythm=$2; shift 2 ;;
    *) echo "usage: $0 [--seconds N] [--rhythm FILE] [--program PATH]" >&2; exit 2 ;;
  esac
done
[ -x "$program" ] || { echo "$0: no program at '$program' (give --program PATH)" >&2; exit 2; }
# The program's own data lies beside it.
[ -n "$rhythm" ] || rhythm="$(dirname "$program")/rhythms/maqsum.krf"
[ -f "$rhythm" ] || { echo "$0: no rhythm file '$rhythm'" >&2; exit 2; }
rhythm=$(cd "$(dirname "$rhythm")" && pwd)/$(basename "$rhythm")

. "$here/desktop_session.sh"
session_start
ticks_per_second=$(getconf CLK_TCK)

fail() {
  echo "$0: $*" >&2
  [ -s "$SESSION_DIR/program.err" ] && { echo "the program said:" >&2; cat "$SESSION_DIR/program.err" >&2; }
  exit 1
}

# Each thread's name and its user + system ticks, one "tid name ticks" line per thread.
thread_ticks() {
  local task stat name
  for task in /proc/"$1"/task/*; do
    stat=$(<"$task/stat") 2>/dev/null || continue
    name=${stat#*(}
    name=${name%%)*}
    set -- ${stat##*) }
    echo "${task##*/} ${name// /_}:${task##*/} $((${12} + ${13}))"
  done
}

percent() { awk -v t="$1" -v hz="$ticks_per_second" -v s="$2" 'BEGIN { printf "%.2f", 100 * t / hz / s }'; }

# Measures the program over the given seconds; prints the figure and each busy thread.
measure() {
  local label=$1 before after start_ticks end_ticks
  before=$(thread_ticks "$pid")
  start_ticks=$(session_cpu_ticks "$pid")
  sleep "$seconds"
  end_ticks=$(session_cpu_ticks "$pid") || fail "the program ended while $label"
  after=$(thread_ticks "$pid")
  MEASURED=$(percent $((end_ticks - start_ticks)) "$seconds")
  echo "$label: ${MEASURED} % of one core over ${seconds} s (load $(cut -d' ' -f1-3 /proc/loadavg))"
  # Threads that ran in the window, by name and id (the main thread's id is the process's;
  # threads born inside the window count from zero).
  join -a 2 -e 0 -o 2.2,1.3,2.3 <(echo "$before" | sort) <(echo "$after" | sort) |
    awk -v hz="$ticks_per_second" -v s="$seconds" \
      '$3 - $2 > 0 { printf "    thread %-22s %6.2f %%\n", $1, 100 * ($3 - $2) / hz / s }'
}

# Clicks like a hand does: pressed for a moment, so that a frame sees the button down.
click_at() {
  xdotool mousemove --sync "$1" "$2"
  sleep 0.1
  xdotool mousedown 1
  sleep 0.1
  xdotool mouseup 1
}

echo "program: $program"
echo "rhythm: $rhythm"
echo "display: $DISPLAY (Xvfb), sound: $SESSION_SOUND, load: $(cut -d' ' -f1-3 /proc/loadavg)"
(cd "$SESSION_DIR" && exec "$program") 2>"$SESSION_DIR/program.err" &
pid=$!
session_wait_window "$pid" || fail "the window did not appear"
main_window=$WINDOW
eval "$(xdotool getwindowgeometry --shell "$main_window")"
window_x=$X
window_y=$Y
sleep 1

# File > Open Rhythm File. The open menu lies just below the menu bar, which tells where
# the client area starts.
click_at $((window_x + 19)) $((window_y + 12))
popup=""
for tries in $(seq 100); do
  for candidate in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
    [ "$candidate" = "$main_window" ] || popup=$candidate
  done
  [ -n "$popup" ] && break
  sleep 0.05
done
[ -n "$popup" ] || fail "the File menu did not open"
eval "$(xdotool getwindowgeometry --shell "$popup")"
menu_bar_height=$((Y - window_y))
click_at $((X + 30)) $((Y + 15))
chooser=""
for tries in $(seq 200); do
  chooser=$(xdotool search --onlyvisible --name '^Open Rhythm File$' 2>/dev/null | head -n 1) || true
  [ -n "$chooser" ] && break
  sleep 0.05
done
[ -n "$chooser" ] || fail "the file chooser did not open"
xdotool windowfocus --sync "$chooser"
sleep 0.3
# A typed '/' opens the chooser's location field; Enter opens the file.
xdotool type --delay 10 "$rhythm"
sleep 0.3
xdotool key Return
for tries in $(seq 200); do
  xdotool search --onlyvisible --name '^Open Rhythm File$' >/dev/null 2>&1 || break
  sleep 0.05
done
# Let the load, its screen and any late event settle; the pointer stays where it is.
sleep 2
kill -0 "$pid" 2>/dev/null || fail "the program ended after the load"

measure "stopped, rhythm loaded"
idle=$MEASURED

# Play sits at (17, 237) in the client area.
click_at $((window_x + 17)) $((window_y + menu_bar_height + 237))
sleep 1
measure "playing"
play=$MEASURED

heard="not checked (parec missing or no sound server)"
if [ -n "$SESSION_PULSE_PID" ] && command -v parec >/dev/null; then
  # One second of the sink's monitor: its loudest sample, out of 32767.
  peak=$({ timeout 1 parec -d tabla.monitor --raw --format=s16le --channels=1 --rate=8000 2>/dev/null || true; } |
         od -An -v -td2 -w2 | awk '{ v = $1 < 0 ? -$1 : $1; if (v > m) m = v } END { print m + 0 }')
  if [ "$peak" -gt 1000 ]; then
    heard="yes (peak $peak of 32767 on the sink's monitor)"
  elif ! kill -0 "$SESSION_PULSE_PID" 2>/dev/null; then
    fail "the sound server ended during the run (something else stopped it): figures void"
  else
    fail "the sink stayed silent while playing (peak $peak): the load or the click on Play missed"
  fi
fi
echo "strokes heard: $heard"

peak_kb=$(session_peak_rss_kb "$pid")
peak_mb=$(awk -v k="$peak_kb" 'BEGIN { printf "%.1f", k / 1024 }')
echo "peak resident memory: $peak_mb MB"

# Escape closes the window the ordinary way; a program that does not end is killed.
xdotool windowfocus --sync "$main_window" key Escape 2>/dev/null || true
for tries in $(seq 50); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  echo "the program did not close on Escape; killed"
  kill -9 "$pid" 2>/dev/null || true
fi
wait "$pid" 2>/dev/null || true

echo "RESULT idle_cpu_percent=$idle play_cpu_percent=$play peak_rss_mb=$peak_mb"
