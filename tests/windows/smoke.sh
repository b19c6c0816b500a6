#!/usr/bin/env bash
# Smoke run of the Windows program under Wine, as a learner would use it: the window
# appears with its title; File > Open Rhythm File opens the system's open dialog; a typed
# rhythm name loads it; Play sounds its strokes, recorded from the sound server's monitor and
# checked for their step interval and for dropouts (take_check); a Practice menu choice is
# written to the settings and the Practice Log panel shows, with this practice in the log
# file; Escape ends the program with exit code 0; started again, it scores itself listening.
#
# Runs inside the session that tests/windows/wine_checks.sh starts (DISPLAY, WINEPREFIX,
# PULSE_SERVER with a null sink named "tabladex"). Every step has its own time limit.
# Usage: smoke.sh BUILD-FOLDER [seconds of play] [rhythm file name]
# The sound goes through WASAPI, or through waveOut with TABLADEX_WINDOWS_AUDIO=waveout; the
# output's report at exit must name the one expected.
# TABLADEX_SMOKE_WINEDEBUG replaces the program's WINEDEBUG channels (e.g. add warn+pulse to
# see the sound driver's underflows); a failed run leaves its take, the program's messages
# and a screenshot in BUILD-FOLDER.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
seconds=${2:-8}
rhythm=${3:-maqsum.krf}
app_folder="$build/app"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
work=$(mktemp -d /tmp/tabladex-smoke.XXXXXX)

app_pid="" recorder_pid=""
finish() {
  local status=$?
  set +e
  [ -n "$recorder_pid" ] && kill "$recorder_pid" 2>/dev/null
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  if [ "$status" -ne 0 ]; then
    echo "smoke run failed; the program's messages:"
    tail -n 20 "$work/app.err" 2>/dev/null
    [ -s "$work/take.raw" ] && cp "$work/take.raw" "$build/smoke-take.raw" &&
      echo "its take (s16le stereo 48 kHz): $build/smoke-take.raw"
    timeout 10 import -window root "$build/smoke-failure.png" 2>/dev/null &&
      echo "screen at the failure: $build/smoke-failure.png"
  fi
  # The program's messages of the last run stay beside the build (WINEDEBUG channels).
  cp "$work/app.err" "$build/smoke-messages.txt" 2>/dev/null
  rm -rf "$work"
  exit "$status"
}
trap finish EXIT
trap 'exit 143' TERM INT

step() { printf '   %s\n' "$*"; }
fail() { echo "smoke: $*" >&2; exit 1; }

# The checker of takes, built for this machine.
g++ -O2 -std=c++20 -o "$work/take_check" "$here/take_check.cpp"

# The rhythm's step time and notation, from its file (title, tempo, steps per beat, notation).
rhythm_file="$app_folder/rhythms/$rhythm"
[ -f "$rhythm_file" ] || fail "no rhythm file $rhythm_file"
tempo=$(sed -n 2p "$rhythm_file" | tr -d '\r')
subdivision=$(sed -n 3p "$rhythm_file" | tr -d '\r')
notation=$(sed -n 4p "$rhythm_file" | tr -d '\r')
step_seconds=$(awk -v t="$tempo" -v s="$subdivision" 'BEGIN { printf "%.9f", 60 / t / s }')

# The program looks for its data folders beside itself; it is started from its folder, as a
# desktop shortcut would. +debugstr lets the sound output's report through.
cd "$app_folder"
env WINEDEBUG=${TABLADEX_SMOKE_WINEDEBUG:--all,+debugstr} "$wine" tabladex.exe </dev/null >"$work/app.out" 2>"$work/app.err" &
app_pid=$!

window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Viri Brenmoor Tabladex' | head -n 1) ||
  fail "the main window did not appear"
step "window: $(xdotool getwindowname "$window")"

# File > Open Rhythm File, from the keyboard: Alt+F opens the File menu, O its first item.
timeout 10 xdotool windowfocus "$window"
sleep 0.5
timeout 10 xdotool key alt+f
sleep 0.3
timeout 10 xdotool key o
dialog=$(timeout 30 xdotool search --sync --onlyvisible --name '^Open Rhythm File$' | head -n 1) ||
  fail "File > Open Rhythm File showed no open dialog"
step "open dialog: $(xdotool getwindowname "$dialog")"
sleep 1  # the dialog fills its folder view before it takes the name
# The name is typed with its extension: Wine's dialog (8.0) checks that a typed name exists
# before it adds the default extension, where Windows finds "maqsum" as maqsum.krf.
timeout 20 xdotool type --delay 40 "$rhythm"
timeout 10 xdotool key Return
for _ in $(seq 100); do
  xdotool search --onlyvisible --name '^Open Rhythm File$' >/dev/null 2>&1 || break
  sleep 0.1
done
xdotool search --onlyvisible --name '^Open Rhythm File$' >/dev/null 2>&1 &&
  fail "the open dialog did not close after the typed name"
step "typed $rhythm: dialog closed"
sleep 0.5  # the next frame loads the rhythm

# Record the sink's monitor, then press Play: the frame loop reads the button once a frame,
# so it is held for several frames. The Play button lies at (10..25, 230..245) of the client
# area, which starts below the menu bar (20 pixels on Wine's default theme).
parec -d tabladex.monitor --raw --format=s16le --rate=48000 --channels=2 --latency-msec=10 \
  >"$work/take.raw" &
recorder_pid=$!
sleep 0.5
timeout 10 xdotool mousemove --window "$window" 17 257
sleep 0.2
press_time=$(date +%s.%N)
timeout 10 xdotool mousedown 1
sleep 0.2
timeout 10 xdotool mouseup 1
sleep 2
# The only stream on the private server is the program's.
server_us=$(pactl list sink-inputs |
  awk '/(Buffer|Sink) Latency: [0-9]+ usec/ { sum += $3 } END { print sum + 0 }')
step "sound server: the program's stream is ${server_us} us ahead of the sink's output"
sleep "$seconds" &
wait $!  # a wait that a time limit's signal ends at once
end_time=$(date +%s.%N)
kill "$recorder_pid"
wait "$recorder_pid" 2>/dev/null || true
recorder_pid=""

# The Practice menu from the keyboard, as a learner without a mouse would use it: Alt+P
# opens it on its first item, Count-In; Right opens that, Down moves from Off to 1 Bar.
# Then Practice Log (the menu's last item, Up from the first) shows this run's practice.
appdata="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Tabladex"
timeout 10 xdotool windowfocus "$window"
for keys in "alt+p" "Right" "Down" "Return"; do
  timeout 10 xdotool key $keys
  sleep 0.3
done
for keys in "alt+p" "Up" "Return"; do
  timeout 10 xdotool key $keys
  sleep 0.3
done
panel=$(timeout 20 xdotool search --sync --onlyvisible --name '^Practice Log$' | head -n 1) ||
  fail "Practice > Practice Log showed no panel"
step "Practice > Practice Log: a panel"
timeout 10 xdotool windowfocus "$panel"
timeout 10 xdotool key Return
sleep 0.5
grep -q '^count_in_bars = 1' "$appdata/settings.conf" 2>/dev/null ||
  fail "Practice > Count-In > 1 Bar was not written to $appdata/settings.conf"
grep -q "$rhythm" "$appdata/practice.log" 2>/dev/null ||
  fail "the practice log $appdata/practice.log has no line for $rhythm"
step "Count-In > 1 Bar written to the settings; the practice log: $(grep "$rhythm" "$appdata/practice.log" | tail -n 1 | tr '\t' ' ')"
rm -rf "$appdata"  # the next run starts as a new learner

# Escape closes the window; the program must end by itself with exit code 0.
timeout 10 xdotool windowfocus "$window"
timeout 10 xdotool key Escape
status=0
for _ in $(seq 300); do
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$app_pid" 2>/dev/null && fail "the program did not end within 30 s of Escape"
wait "$app_pid" || status=$?
app_pid=""
[ "$status" -eq 0 ] || fail "the program ended with exit code $status"
step "Escape: the program ended with exit code 0"
sed -n 's/.*OutputDebugStringA "\(.*\)\\n"$/\1/p' "$work/app.err" | sed 's/^/   /'
api=WASAPI
[ "${TABLADEX_WINDOWS_AUDIO:-}" = waveout ] && api=waveOut
grep -q "OutputDebugStringA \"tabladex $api:" "$work/app.err" ||
  fail "the program's sound did not go through $api"

step "take of ${seconds} s+ at steps of ${step_seconds} s ($notation):"
min_onsets=$(awk -v s="$seconds" -v t="$step_seconds" 'BEGIN { printf "%d", s / t / 4 }')
take_status=0
"$work/take_check" "$work/take.raw" 48000 "$step_seconds" "$notation" "$min_onsets" \
  >"$work/take.txt" || take_status=$?
sed 's/^/   /' "$work/take.txt"
# The take ends when the recorder is stopped, so its last frame dates the first stroke:
# from Play to the first stroke heard is the output's latency, plus up to one frame (22 ms)
# before the frame loop reads the button.
first_heard_ms=$(awk -v press="$press_time" -v end="$end_time" \
  '/^take:/ { printf "%.0f", 1000 * (end - ($2 - $8) - press) }' "$work/take.txt")
step "Play pressed to first stroke heard: $first_heard_ms ms"
if [ "$take_status" -ne 0 ]; then
  # TABLADEX_WINE_TAKE=report: the take's timing and dropouts are printed but only strokes
  # heard are required (Wine's sound driver asks in bursts and runs dry on a busy machine).
  if [ "${TABLADEX_WINE_TAKE:-enforce}" = report ]; then
    heard=$(awk '/^take:/ { print $4 }' "$work/take.txt")
    [ "${heard:-0}" -ge "$min_onsets" ] || fail "too few strokes were heard"
    step "the take's timing and dropouts are reported, not enforced (TABLADEX_WINE_TAKE=report)"
  else
    fail "the take failed its checks"
  fi
fi
# Listening through the monitor (WASAPI, whatever plays): only no pass or a clock 60 ms off fails
# (Wine dates its 100 ms capture packets by when its timer fetched them; runs have been seen
# up to 33 ms apart, while a capture not on the output's clock was 100 ms off).
if [ "$api" = WASAPI ]; then
  mkdir -p "$appdata" && printf 'listen = 1\nheadphones = 1\n' >"$appdata/settings.conf"
  env WINEDEBUG=-all,+debugstr "$wine" tabladex.exe rhythms/fallahi.krf </dev/null >"$work/app.out" 2>"$work/app.err" & app_pid=$!
  window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Viri Brenmoor Tabladex' | head -n 1) || fail "no window to listen in"
  sleep 1 && xdotool mousemove --window "$window" 17 257 mousedown 1 sleep 0.2 mouseup 1 && sleep 9 && xdotool key Escape
  for _ in $(seq 300); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  wait "$app_pid" || fail "the listening run did not end by itself with exit code 0"
  app_pid="" && sed -n 's/.*"\(tabladex WASAPI input.*\)\\n"$/   \1/p' "$work/app.err"
  read -r passes due on mean spread < <(awk -F '\t' '/^score/ { p += $3; d += $6; o += $7; n = $7 + $8 + $9; r += n
    s += n * $13; q += n * ($14 * $14 + $13 * $13) } END { m = r ? s / r : 0; v = r ? q / r - m * m : 0
    printf "%d %d %d %.1f %.1f\n", p, d, o, m, sqrt(v > 0 ? v : 0) }' "$appdata/practice.log")
  step "listening: $passes passes scored, $on of $due strokes on time, mean offset $mean ms, spread $spread ms"
  [ "$passes" -ge 1 ] || fail "listening scored no pass"
  awk -v m="$mean" 'BEGIN { exit !(m * m <= 3600) }' || fail "strokes heard $mean ms off: the input is not on the output's clock"
  rm -rf "$appdata"
fi
echo "smoke run passed"
