#!/usr/bin/env bash
# The Windows checks under Wine, for a cross-built tree (default build/windows):
#   1. the Windows test suites (ctest label "windows"), each test program run by wine64, and
#      WASAPI playing on through a sound server that is killed and started again;
#   2. the smoke run of tabladex.exe (tests/windows/smoke.sh).
# Everything runs in a private session that this script starts and always ends: a Wine
# prefix under the build folder with one persistent wineserver, a virtual X display (Xvfb)
# and a private PulseAudio server whose only sink is a null sink ("tabladex"); nothing of
# the user's own display, sound or Wine prefix is touched.
# Usage: tests/windows/wine_checks.sh [build-folder] [smoke seconds]
# TABLADEX_WINE_SUITES=0 skips the test suites (a long take by hand). The smoke run plays
# through WASAPI, then once more through waveOut, the fallback, whose take must have its
# strokes but has its timing and dropouts reported only (as TABLADEX_WINE_TAKE=report does),
# so that one take, the program's own output's, is held to the step grid and a loaded
# machine's dropouts fail the stage no more often than before. TABLADEX_WINE_HEARD=1 first
# measures, through each, how long after its stamp a stroke is heard against what the library
# reports (tests/windows/heard_delay.py).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build/windows}" && pwd)
seconds=${2:-8}
jobs=$(nproc)

find_tool() {
  local name
  for name in "$@"; do
    if command -v "$name" >/dev/null 2>&1; then command -v "$name"; return 0; fi
    if [ -x "/usr/lib/wine/$name" ]; then echo "/usr/lib/wine/$name"; return 0; fi
  done
  echo "wine_checks.sh: none of $* is installed" >&2
  return 1
}
wine=$(find_tool wine64 wine)
wineserver=$(find_tool wineserver)

session=$(mktemp -d /tmp/tabladex-wine.XXXXXX)
export WINEPREFIX="$build/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no offers to install .NET or a browser engine
export PULSE_RUNTIME_PATH="$session/pulse" PULSE_SERVER="unix:$session/pulse/native"
export PULSE_SINK=tabladex PULSE_SOURCE=tabladex.monitor PULSE_COOKIE="$session/pulse/cookie"
# Wine's PulseAudio driver keeps three of its 10 ms periods in the sound server and tops the
# server up from a timer thread; a tick 10 ms late empties it and the take drops out, whatever
# the program queues in the driver. The client library's latency setting (read by Wine's
# driver, as by every client) lets the server hold 100 ms, as Wine users set it for programs
# that crackle on PulseAudio. TABLADEX_WINE_PULSE_LATENCY= (empty) keeps Wine's own 30 ms.
if [ -n "${TABLADEX_WINE_PULSE_LATENCY-100}" ]; then
  export PULSE_LATENCY_MSEC=${TABLADEX_WINE_PULSE_LATENCY-100}
fi
# Wine links the prefix's Desktop and Documents folders into $HOME when it makes the prefix,
# and its file dialogs need them later: a home of the build's own, which lasts as the prefix.
export HOME="$build/wine-home" XDG_RUNTIME_DIR="$session"
mkdir -p "$PULSE_RUNTIME_PATH" "$HOME"
chmod 700 "$session"

session_pids=()
end_session() {
  local status=$?
  set +e
  WINEPREFIX="$WINEPREFIX" timeout 30 "$wineserver" -k >/dev/null 2>&1
  for pid in "${session_pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${session_pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$session"
  exit "$status"
}
trap end_session EXIT
trap 'exit 130' INT TERM

# waits up to $1 seconds for the command after it to succeed
wait_for() {
  local limit=$1 start=$SECONDS
  shift
  until "$@" >/dev/null 2>&1; do
    if [ $((SECONDS - start)) -ge "$limit" ]; then return 1; fi
    sleep 0.2
  done
}

echo "-- private PulseAudio server with a null sink"
# norewinds: a rewinding null sink's monitor holds frames back by an amount nothing reports.
start_pulse() {
  pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit -n --use-pid-file=no \
    --system=false --disable-shm=yes --log-target=file:"$session/pulse.log" \
    --load="module-null-sink sink_name=tabladex rate=48000 channels=2 norewinds=1" \
    --load="module-native-protocol-unix auth-anonymous=1 socket=$session/pulse/native" \
    </dev/null >/dev/null 2>&1 &
  pulse_pid=$!
  session_pids+=($pulse_pid)
  wait_for 30 pactl info || { echo "PulseAudio did not start"; cat "$session/pulse.log"; exit 1; }
}
start_pulse

echo "-- virtual X display"
exec 3>"$session/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -auth /dev/null </dev/null >/dev/null 2>&1 &
session_pids+=($!)
exec 3>&-
wait_for 30 test -s "$session/display" || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n 1 "$session/display")"

echo "-- one persistent wineserver for the run (prefix $WINEPREFIX)"
mkdir -p "$WINEPREFIX"
"$wineserver" -f -p </dev/null >/dev/null 2>&1 &
session_pids+=($!)
# The first call makes the prefix and starts Wine's services; their standard streams must
# not be ours, or they would hold this script's output open after it ends.
start=$SECONDS
timeout 600 "$wine" cmd.exe /c exit </dev/null >/dev/null 2>&1 ||
  { echo "Wine did not start"; exit 1; }
echo "   Wine ready in $((SECONDS - start)) s"

if [ "${TABLADEX_WINE_SUITES:-1}" = 1 ]; then
  echo "-- Windows test suites"
  (cd "$build" && timeout 1200 ctest --output-on-failure -j"$jobs" -L windows --timeout 300 </dev/null)

  # The sound server goes away for a second and a half while WASAPI plays (as when it is
  # restarted): the output must count the loss, open the server again and play on.
  echo "-- WASAPI through a sound server that goes away and comes back"
  "$wine" "$build/tests/windows/heard_probe.exe" 24 </dev/null 2>/dev/null | tr -d '\r' >"$session/restart.txt" &
  probe=$!
  sleep 3
  kill -9 "$pulse_pid"
  sleep 1.5
  start_pulse
  wait "$probe" || true
  grep '^status' "$session/restart.txt" | sed 's/^/   /'
  grep -q '^output WASAPI' "$session/restart.txt" &&
    grep -q '^status playing 1 losses 1 recoveries 1$' "$session/restart.txt" ||
    { echo "WASAPI did not play on after the sound server came back"; exit 1; }
fi

if [ "${TABLADEX_WINE_HEARD:-0}" = 1 ]; then
  for output in wasapi waveout; do
    echo "-- stamp to heard through $output"
    timeout 300 python3 "$here/heard_delay.py" "$build" "$output" 40 </dev/null
  done
fi

# A take can still catch a dropout that the machine causes (a stall of Wine's feeding thread
# longer than the server holds): a failed run is shown, and run once more.
smoke() {
  echo "-- smoke run of tabladex.exe ($1)"
  if ! timeout $((seconds + 300)) "$here/smoke.sh" "$build" "$seconds" </dev/null; then
    echo "-- smoke run of tabladex.exe ($1), second attempt"
    timeout $((seconds + 300)) "$here/smoke.sh" "$build" "$seconds" </dev/null
  fi
}
smoke WASAPI
TABLADEX_WINDOWS_AUDIO=waveout TABLADEX_WINE_TAKE=report smoke "waveOut, the fallback"
