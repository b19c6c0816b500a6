# desktop_session.sh - sourced by the desktop benchmarks (idle_cpu, startup): a private X
# server (Xvfb) and a private PulseAudio server with one null sink, so that the real program
# runs as on a desktop without touching the user's display or sound.
#
#   session_start            starts both; exports DISPLAY, PULSE_SERVER and a private HOME
#   session_stop             stops what session_start started (also run on exit)
#   session_wait_window PID  waits until PID's top-level window is mapped; sets WINDOW
#   session_cpu_ticks PID    utime + stime of PID in clock ticks
#   session_peak_rss_kb PID  VmHWM of PID in kB
#
# Without pulseaudio the program gets no sound server and SDL falls back to no device (the
# audio library then plays silently); SESSION_SOUND says which it was.

SESSION_DIR=$(mktemp -d "${TMPDIR:-/tmp}/tabladex-bench.XXXXXX")
SESSION_XVFB_PID=""
SESSION_PULSE_PID=""
SESSION_SOUND="none"

session_stop() {
  # Only the servers this session started, by their process ids.
  if [ -n "$SESSION_PULSE_PID" ]; then
    kill "$SESSION_PULSE_PID" 2>/dev/null || true
    wait "$SESSION_PULSE_PID" 2>/dev/null || true
  fi
  if [ -n "$SESSION_XVFB_PID" ]; then
    kill "$SESSION_XVFB_PID" 2>/dev/null || true
    wait "$SESSION_XVFB_PID" 2>/dev/null || true
  fi
  SESSION_PULSE_PID=""
  SESSION_XVFB_PID=""
  rm -rf "$SESSION_DIR"
}
trap session_stop EXIT

session_need() {
  command -v "$1" >/dev/null || { echo "$0: $1 is missing (scripts/deps.sh installs it)" >&2; exit 2; }
}

session_start() {
  session_need Xvfb
  session_need xdotool
  export HOME="$SESSION_DIR/home" XDG_RUNTIME_DIR="$SESSION_DIR/run"
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  # Quiet GTK on a machine without a session bus.
  export NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory

  # Xvfb picks a free display and writes its number to the pipe once it accepts clients.
  local fifo="$SESSION_DIR/display"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" 2>"$SESSION_DIR/xvfb.log" &
  SESSION_XVFB_PID=$!
  local number
  read -r -t 10 number <"$fifo" || { echo "$0: Xvfb did not start" >&2; exit 2; }
  export DISPLAY=":$number"

  if command -v pulseaudio >/dev/null; then
    local pulse="$SESSION_DIR/pulse"
    mkdir -p "$pulse"
    PULSE_RUNTIME_PATH="$pulse" PULSE_STATE_PATH="$pulse" \
      pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=false \
      --log-target=file:"$SESSION_DIR/pulse.log" \
      --load="module-null-sink sink_name=tabla rate=48000 format=float32le" \
      --load="module-native-protocol-unix auth-anonymous=1 socket=$pulse/native" &
    SESSION_PULSE_PID=$!
    export PULSE_SERVER="unix:$pulse/native" PULSE_RUNTIME_PATH="$pulse"
    local tries
    for tries in $(seq 100); do
      [ -S "$pulse/native" ] || ! kill -0 "$SESSION_PULSE_PID" 2>/dev/null && break
      sleep 0.05
    done
    if [ -S "$pulse/native" ]; then
      SESSION_SOUND="pulseaudio null sink"
    else
      echo "$0: pulseaudio did not start; the program runs without a sound device" >&2
      kill "$SESSION_PULSE_PID" 2>/dev/null || true
      wait "$SESSION_PULSE_PID" 2>/dev/null || true
      SESSION_PULSE_PID=""
      unset PULSE_SERVER
    fi
  else
    echo "$0: pulseaudio is missing; the program runs without a sound device" >&2
  fi
  # Without a server of our own, the program must not find the user's: it then plays
  # through no device at all.
  if [ -z "$SESSION_PULSE_PID" ]; then
    export PULSE_SERVER="unix:$SESSION_DIR/no-server" SDL_AUDIODRIVER=dummy
  fi
}

session_wait_window() {
  local pid=$1 tries
  WINDOW=""
  for tries in $(seq 400); do
    WINDOW=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1)
    [ -n "$WINDOW" ] && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.025
  done
  return 1
}

session_cpu_ticks() {
  # Fields 14 and 15 of /proc/PID/stat, counted after the command name's closing bracket.
  local stat
  stat=$(<"/proc/$1/stat") || return 1
  stat=${stat##*) }
  set -- $stat
  echo $((${12} + ${13}))
}

session_peak_rss_kb() {
  awk '/^VmHWM:/ { print $2 }' "/proc/$1/status"
}
