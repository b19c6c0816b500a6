#!/usr/bin/env python3
"""How long after its stamp a stroke is heard under Wine, against what heardDelay reports.

Runs heard_probe.exe (built with the Windows tests) under Wine while parec records the sound
server's monitor, both read by this process as their output arrives, on its own steady clock:

- the probe's "clock" lines map its stamping clock onto ours (the smallest arrival delay of
  a line is taken as none);
- the monitor's frames are dated by the chunks parec hands over: frame n sounds at the
  earliest (arrival - frames after n) of all chunks, so within about one of the null sink's
  render periods (a few milliseconds with parec asking for 2 ms);
- each click's onset (the first frame above 0.1 after quiet) less its due time is the
  measured stamp-to-heard time, printed beside the heardDelay the probe read.

Runs in the session of tests/windows/wine_checks.sh (PULSE_SERVER, WINEPREFIX; the null sink
"tabladex"); wine_checks.sh runs it with TABLADEX_WINE_HEARD=1, once per output.
Usage: heard_delay.py BUILD-FOLDER [waveout] [clicks]
"""
import array
import os
import shutil
import statistics
import subprocess
import sys
import threading
import time

RATE = 48000


def read_chunks(stream, chunks):
    while True:
        data = os.read(stream.fileno(), 1 << 16)
        if not data:
            return
        chunks.append((time.monotonic(), data))


def read_lines(stream, lines):
    for line in stream:
        lines.append((time.monotonic(), line.decode(errors="replace").split()))


def main():
    build = sys.argv[1]
    waveout = len(sys.argv) > 2 and sys.argv[2] == "waveout"
    clicks = int(sys.argv[3]) if len(sys.argv) > 3 else 20
    wine = shutil.which("wine64") or "/usr/lib/wine/wine64"
    env = dict(os.environ, TABLADEX_WINDOWS_AUDIO="waveout" if waveout else "")

    # The recorder asks for its own latency: the session's PULSE_LATENCY_MSEC is the program's.
    recorder_env = {k: v for k, v in os.environ.items() if k != "PULSE_LATENCY_MSEC"}
    recorder = subprocess.Popen(
        ["parec", "-d", "tabladex.monitor", "--raw", "--format=float32le", "--rate=%d" % RATE,
         "--channels=2", "--latency-msec=2"], stdout=subprocess.PIPE, env=recorder_env)
    chunks, lines = [], []
    readers = [threading.Thread(target=read_chunks, args=(recorder.stdout, chunks))]
    time.sleep(0.5)
    probe = subprocess.Popen([wine, os.path.join(build, "tests/windows/heard_probe.exe"), str(clicks)],
                             stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, env=env)
    readers.append(threading.Thread(target=read_lines, args=(probe.stdout, lines)))
    for reader in readers:
        reader.start()
    probe.wait(timeout=120)
    readers[1].join()
    time.sleep(0.3)
    recorder.terminate()
    readers[0].join()

    clock = [arrival - float(words[1]) for arrival, words in lines if words[:1] == ["clock"]]
    offset = min(clock)  # ours = theirs + offset
    half = len(clock) // 2
    drift = min(clock[half:]) - min(clock[:half])
    output = next(words for _, words in lines if words[:1] == ["output"])
    due = [(float(words[1]), float(words[2])) for _, words in lines if words[:1] == ["click"]]

    samples = array.array("f")
    ends = []  # (frames up to the end of a chunk, its arrival less those frames' duration)
    for arrival, data in chunks:
        samples.frombytes(data)
        frames = len(samples) // 2
        ends.append((frames, arrival - frames / RATE))

    def sounded(frame):
        # The earliest arrival among the chunks within half a second: a recorder held off
        # delivers late, never early, and a stretch the server dropped moves only what follows.
        near = [start for end, start in ends if abs(end - frame) < RATE // 2]
        return min(near) + frame / RATE

    onsets, quiet, frames_at = [], 0, []
    for frame in range(len(samples) // 2):
        level = max(abs(samples[2 * frame]), abs(samples[2 * frame + 1]))
        if level > 0.1 and quiet >= RATE // 200:
            onsets.append(sounded(frame))
            frames_at.append(frame)
        quiet = quiet + 1 if level <= 0.1 else 0

    measured, reported = [], []
    for stamp, heard in due:
        ours = stamp + offset
        after = [t for t in onsets if ours < t < ours + 1.0]
        if after:
            measured.append(after[0] - ours)
            reported.append(heard)
    print("output %s at %s Hz, blocks of %s, constant latency %.1f ms; clock drift over the run %.2f ms"
          % (output[1], output[2], output[3], 1000 * float(output[4]), 1000 * drift))
    if not measured:
        print("no click was heard")
        return 1
    errors = [m - r for m, r in zip(measured, reported)]
    if os.environ.get("HEARD_VERBOSE"):
        print(" ".join("%.1f" % (1000 * m) for m in measured))
        print(" ".join("%d" % (b - a) for a, b in zip(frames_at, frames_at[1:])))
    spread = [1000 * (b - a) for a, b in zip(measured, measured[1:])]
    print("clicks heard %d of %d; stamp to onset: median %.1f ms (%.1f .. %.1f); heardDelay: median "
          "%.1f ms (%.1f .. %.1f); measured - reported: median %.1f ms"
          % (len(measured), len(due), 1000 * statistics.median(measured), 1000 * min(measured),
             1000 * max(measured), 1000 * statistics.median(reported), 1000 * min(reported),
             1000 * max(reported), 1000 * statistics.median(errors)))
    print("change of stamp to onset from click to click: largest %.1f ms" % max(abs(x) for x in spread))
    return 0


if __name__ == "__main__":
    sys.exit(main())
