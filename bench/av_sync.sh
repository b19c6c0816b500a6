#!/usr/bin/env bash
# av_sync - how far the tutor's playback cues on the screen (the step marker and the
# metronome lamp) lie from the strokes heard: the real program under a private X server
# (Xvfb) with a private PulseAudio server whose only sink is a null sink, both started here.
#
#   build/<dir>/bench/av_sync [--beats N] [--tempo BPM] [--wine EXE] [--wineprefix DIR]
#                             [--wine-pulse-latency MS] [--keep DIR] [--program PATH] [--probe PATH]
#
# The rhythm is written here: eight half teks at --tempo BPM (120), one step a beat, so that
# every step sounds a stroke, moves the marker and lights the lamp. The program opens it from
# its command line; av_sync_probe then finds the window's client area by its background
# image, records the sink's monitor in its own process, presses Play with a synthetic click,
# watches the lamp's and the notation's pixels every millisecond for --beats strokes (60),
# and pairs each stroke heard with each cue (see bench/av_sync_probe.cpp). Every time is
# taken on one monotonic clock in that one process: the screen's when the X server had the
# new pixels, the sound's when the sink played the stroke (the record stream's latency, as
# the server reports it for a monitor, dates every fragment of the recording).
#
# --wine EXE measures the Windows program (a cross-built tabladex.exe beside its data)
# the same way under Wine 8's wine64 on the same X server and sound server, with Wine's
# sound driver as the Windows tests set it up (PULSE_LATENCY_MSEC=100, see docs/windows.md;
# --wine-pulse-latency changes it, empty for Wine's own). Its prefix is made on the first run
# in --wineprefix (default: av-sync-wine-prefix beside the exe's app/ folder), which takes a
# while; it is the benchmark's own, so a test run's wineserver never ends it.
# TABLADEX_WINDOWS_AUDIO=waveout in the environment makes the Windows program use waveOut
# instead of WASAPI. --keep DIR keeps each run's monitor recording, its cue and stroke times
# and the record stream's latency at each fragment.
#
# Prints each run's figures and last:
#   RESULT marker_med_ms=… marker_p95_ms=… lamp_med_ms=… lamp_p95_ms=… play_to_sound_ms=…
#          wine_marker_med_ms=…   (na without --wine)
# Screen minus sound: negative when the screen leads the sound.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program=""
probe=""
beats=60
tempo=120
wine_exe=""
wineprefix=""
wine_latency=100
keep=""
usage="usage: $0 [--beats N] [--tempo BPM] [--wine EXE] [--wineprefix DIR] [--wine-pulse-latency MS] [--keep DIR] [--program PATH] [--probe PATH]"
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }
  case $1 in
    --program) program=$2 ;;
    --probe) probe=$2 ;;
    --beats) beats=$2 ;;
    --tempo) tempo=$2 ;;
    --wine) wine_exe=$2 ;;
    --wineprefix) wineprefix=$2 ;;
    --wine-pulse-latency) wine_latency=$2 ;;
    --keep) keep=$2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
  shift 2
done
[ -x "$program" ] || { echo "$0: no program at '$program' (give --program PATH)" >&2; exit 2; }
[ -x "$probe" ] || { echo "$0: no probe at '$probe' (give --probe PATH)" >&2; exit 2; }
if [ -n "$wine_exe" ]; then
  [ -f "$wine_exe" ] || { echo "$0: no Windows program at '$wine_exe'" >&2; exit 2; }
  wine_exe=$(cd "$(dirname "$wine_exe")" && pwd)/$(basename "$wine_exe")
fi
[ -z "$keep" ] || { mkdir -p "$keep" && keep=$(cd "$keep" && pwd); }

. "$here/desktop_session.sh"
session_start
[ -n "$SESSION_PULSE_PID" ] || { echo "$0: needs a sound server to hear the strokes (pulseaudio)" >&2; exit 2; }

rhythm="$SESSION_DIR/av_sync.krf"
printf 'AV Sync\n%s\n1\nPPPPPPPP\n' "$tempo" >"$rhythm"
step_seconds=$(awk -v t="$tempo" 'BEGIN { printf "%.9f", 60 / t }')
background="$(dirname "$program")/images/600x480Background.bmp"
[ -f "$background" ] || { echo "$0: no background image beside the program ($background)" >&2; exit 2; }

echo "program: $program"
echo "rhythm: eight half teks at $tempo BPM, one step a beat ($step_seconds s), $beats beats a run"
echo "display: $DISPLAY (Xvfb), sound: $SESSION_SOUND, load: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"

fail() { echo "$0: $*" >&2; exit 1; }

# Escape closes the window the ordinary way; a program that does not end is killed.
close_program() {
  local pid=$1 window=$2 tries
  xdotool windowfocus --sync "$window" key Escape 2>/dev/null || true
  for tries in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && { echo "   the program did not close on Escape; killed"; kill -9 "$pid" 2>/dev/null || true; }
  wait "$pid" 2>/dev/null || true
}

# Runs the probe on a window; FIGURES holds its figures line.
measure() {
  local label=$1 window=$2 output status=0
  local keep_args=()
  [ -z "$keep" ] || keep_args=(--keep "$keep/$label")
  output=$("$probe" --window "$window" --steps 8 --step-seconds "$step_seconds" --beats "$beats" \
    --background "$background" --source tabla.monitor "${keep_args[@]}") || status=$?
  echo "$output" | grep -v '^FIGURES' | sed 's/^/   /'
  FIGURES=$(echo "$output" | sed -n 's/^FIGURES //p')
  [ "$status" -eq 0 ] || echo "   the probe ended with status $status: these figures are void"
  return "$status"
}

figure() { echo "$2" | tr ' ' '\n' | sed -n "s/^$1=//p"; }

echo "-- Linux program (GTK, libpulse)"
(cd "$SESSION_DIR" && exec "$program" "$rhythm") 2>"$SESSION_DIR/program.err" &
pid=$!
session_wait_window "$pid" || { cat "$SESSION_DIR/program.err" >&2; fail "the window did not appear"; }
window=$WINDOW
linux_status=0
measure linux "$window" || linux_status=$?
linux=$FIGURES
close_program "$pid" "$window"

wine_marker=na
if [ -n "$wine_exe" ]; then
  echo "-- Windows program under Wine ($wine_exe)"
  wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
  wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  [ -x "$wine" ] || fail "wine64 is not installed (TABLADEX_FULL_CHECKS=1 scripts/deps.sh installs it)"
  export WINEPREFIX=${wineprefix:-$(dirname "$(dirname "$wine_exe")")/av-sync-wine-prefix}
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # Wine links the prefix's Desktop and Documents into $HOME when it makes the prefix: a
  # home that lasts as long as the prefix.
  wine_home="$WINEPREFIX-home"
  mkdir -p "$WINEPREFIX" "$wine_home"
  HOME="$wine_home" "$wineserver" -f -p </dev/null >/dev/null 2>&1 &
  wineserver_pid=$!
  end_wine() {
    HOME="$wine_home" timeout 30 "$wineserver" -k >/dev/null 2>&1 || true
    kill "$wineserver_pid" 2>/dev/null || true
    wait "$wineserver_pid" 2>/dev/null || true
  }
  trap 'end_wine; session_stop' EXIT
  started=$SECONDS
  HOME="$wine_home" timeout 600 "$wine" cmd.exe /c exit </dev/null >/dev/null 2>&1 || fail "Wine did not start"
  echo "   Wine ready in $((SECONDS - started)) s (prefix $WINEPREFIX)"
  wine_rhythm="Z:$(echo "$rhythm" | tr '/' '\\')"
  latency_env=()
  [ -z "$wine_latency" ] || latency_env=(PULSE_LATENCY_MSEC="$wine_latency")
  echo "   sound: Wine's PulseAudio driver, PULSE_LATENCY_MSEC=${wine_latency:-unset}"
  (cd "$(dirname "$wine_exe")" &&
    exec env HOME="$wine_home" WINEDEBUG=-all,+debugstr "${latency_env[@]}" "$wine" "$(basename "$wine_exe")" "$wine_rhythm") \
    </dev/null >/dev/null 2>"$SESSION_DIR/wine.err" &
  wine_pid=$!
  wine_window=$(timeout 120 xdotool search --sync --onlyvisible --name '^Viri Brenmoor Tabladex' | head -n 1) ||
    fail "the Windows program's window did not appear"
  # The first frames, the sound driver's stream and the rhythm from the command line.
  sleep 2
  wine_status=0
  measure wine "$wine_window" || wine_status=$?
  [ "$wine_status" -ne 0 ] || wine_marker=$(figure marker_med_ms "$FIGURES")
  close_program "$wine_pid" "$wine_window"
  # What the program said of its sound output (its debug strings).
  sed -n 's/.*OutputDebugStringA "tabladex\(.*\)\\n"$/   the program:\1/p' "$SESSION_DIR/wine.err"
fi

[ "$linux_status" -eq 0 ] || fail "the Linux run failed"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "RESULT marker_med_ms=$(figure marker_med_ms "$linux") marker_p95_ms=$(figure marker_p95_ms "$linux")" \
  "lamp_med_ms=$(figure lamp_med_ms "$linux") lamp_p95_ms=$(figure lamp_p95_ms "$linux")" \
  "play_to_sound_ms=$(figure play_to_sound_ms "$linux") wine_marker_med_ms=$wine_marker"
