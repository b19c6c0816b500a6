#!/usr/bin/python3
"""Synthesises the four goblet-drum strokes into data/soundFont/ (44.1 kHz, 16-bit mono WAV).

Every stroke is a sum of decaying membrane modes (sinusoids whose pitch can glide) plus a
filtered noise transient for the hand's contact. The random generator is seeded, so the
output is byte-for-byte reproducible. Each sample starts at its attack and is peak
normalised to PEAK_DBFS. Run from anywhere:

    /usr/bin/python3 tools/make_samples.py
"""
import math
import os
import wave

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "data", "soundFont")
RATE = 44100
PEAK_DBFS = -3.0


def timeline(seconds):
    return np.arange(int(seconds * RATE)) / RATE


def biquad(x, kind, freq, q):
    """RBJ cookbook biquad ('lp', 'hp' or 'bp' with constant peak gain), direct form I."""
    w0 = 2 * math.pi * freq / RATE
    alpha = math.sin(w0) / (2 * q)
    c = math.cos(w0)
    if kind == "lp":
        b = [(1 - c) / 2, 1 - c, (1 - c) / 2]
    elif kind == "hp":
        b = [(1 + c) / 2, -(1 + c), (1 + c) / 2]
    else:
        b = [alpha, 0.0, -alpha]
    a = [1 + alpha, -2 * c, 1 - alpha]
    b0, b1, b2 = (v / a[0] for v in b)
    a1, a2 = a[1] / a[0], a[2] / a[0]
    y = np.zeros_like(x)
    x1 = x2 = y1 = y2 = 0.0
    for i, xi in enumerate(x):
        yi = b0 * xi + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2
        x2, x1, y2, y1 = x1, xi, y1, yi
        y[i] = yi
    return y


def mode(t, f_start, f_end, glide, decay, amp, phase=0.0):
    """A decaying sinusoid whose frequency glides exponentially from f_start to f_end."""
    freq = f_end + (f_start - f_end) * np.exp(-t / glide) if glide > 0 else np.full_like(t, f_start)
    ph = 2 * math.pi * np.cumsum(freq) / RATE + phase
    return amp * np.exp(-t / decay) * np.sin(ph)


def onset(t, ramp_ms=0.3):
    """A very short linear ramp so the first sample is the attack but does not click."""
    return np.clip(t / (ramp_ms / 1000.0), 0.0, 1.0)


def tail(t, fade_ms=20.0):
    """Fades the last milliseconds to silence so the sample ends cleanly."""
    end = t[-1]
    return np.clip((end - t) / (fade_ms / 1000.0), 0.0, 1.0)


def doum(rng):
    t = timeline(0.55)
    # Fundamental: the head is struck hard, so it starts sharp and settles (~92 -> 70 Hz).
    body = mode(t, 92, 70, 0.06, 0.20, 1.0)
    # Membrane overtones (circular-membrane ratios) and the goblet's air resonance.
    body += mode(t, 92 * 1.59, 70 * 1.59, 0.06, 0.09, 0.35, 0.5)
    body += mode(t, 92 * 2.14, 70 * 2.14, 0.06, 0.06, 0.22, 1.1)
    body += mode(t, 92 * 2.30, 70 * 2.30, 0.06, 0.05, 0.12, 2.0)
    body += mode(t, 300, 290, 0.05, 0.035, 0.10, 0.3)
    # Soft palm contact: low-passed noise over the first ~15 ms.
    thump = biquad(rng.standard_normal(len(t)), "lp", 900, 0.7) * np.exp(-t / 0.006) * 0.5
    return (body + thump) * onset(t) * tail(t, 40)


def tek(rng):
    t = timeline(0.30)
    # Rim click: a bright noise burst of a few milliseconds.
    click = biquad(rng.standard_normal(len(t)), "hp", 2500, 0.7) * np.exp(-t / 0.0025) * 0.55
    # The taut head near the rim rings at high, inharmonic partials.
    ring = mode(t, 1180, 1150, 0.01, 0.040, 0.30)
    ring += mode(t, 2350, 2320, 0.01, 0.060, 0.45, 0.7)
    ring += mode(t, 3420, 3400, 0.01, 0.040, 0.40, 1.9)
    ring += mode(t, 5150, 5120, 0.01, 0.030, 0.30, 0.2)
    ring += mode(t, 7300, 7280, 0.01, 0.020, 0.20, 2.6)
    # A breath of body resonance so it still sounds like a drum, not a woodblock.
    ring += mode(t, 420, 400, 0.02, 0.020, 0.15, 0.4)
    return (click + ring) * onset(t, 0.15) * tail(t)


def half_tek(rng):
    t = timeline(0.18)
    # A lighter finger closer to the centre: softer click, darker, shorter ring.
    click = biquad(rng.standard_normal(len(t)), "bp", 2200, 0.8) * np.exp(-t / 0.002) * 0.45
    ring = mode(t, 980, 960, 0.01, 0.020, 0.35)
    ring += mode(t, 1900, 1880, 0.01, 0.022, 0.40, 0.9)
    ring += mode(t, 2900, 2880, 0.01, 0.018, 0.22, 1.7)
    ring += mode(t, 4300, 4280, 0.01, 0.012, 0.10, 0.3)
    ring += mode(t, 380, 370, 0.02, 0.018, 0.18, 0.6)
    return (click + ring) * onset(t, 0.3) * tail(t, 15)


def slap(rng):
    t = timeline(0.40)
    # The crack: a loud, broad noise burst (cupped hand trapping air against the head).
    noise = rng.standard_normal(len(t))
    crack = biquad(noise, "bp", 1800, 0.6) * np.exp(-t / 0.012) * 1.3
    crack += biquad(noise, "hp", 4000, 0.7) * np.exp(-t / 0.003) * 0.35
    # The open head rings on: mid partials plus a little of the low body.
    ring = mode(t, 130, 118, 0.03, 0.10, 0.35)
    ring += mode(t, 330, 320, 0.02, 0.09, 0.45, 0.4)
    ring += mode(t, 520, 510, 0.02, 0.08, 0.40, 1.2)
    ring += mode(t, 760, 750, 0.02, 0.06, 0.30, 2.2)
    ring += mode(t, 1240, 1230, 0.02, 0.05, 0.22, 0.8)
    ring += mode(t, 2050, 2040, 0.02, 0.035, 0.15, 1.5)
    return (crack + ring) * onset(t, 0.15) * tail(t, 30)


def write_wav(path, signal):
    peak = float(np.max(np.abs(signal)))
    scaled = signal / peak * (10 ** (PEAK_DBFS / 20.0))
    pcm = np.round(scaled * 32767).astype("<i2")
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(pcm.tobytes())


def spectral_centroid(signal):
    spectrum = np.abs(np.fft.rfft(signal))
    freqs = np.fft.rfftfreq(len(signal), 1.0 / RATE)
    return float(np.sum(freqs * spectrum) / np.sum(spectrum))


STROKES = [
    ("doumBackClipped.wav", doum),
    ("tek_front.wav", tek),
    ("half_tek_front.wav", half_tek),
    ("slap_front.wav", slap),
]


def main():
    os.makedirs(OUT, exist_ok=True)
    for index, (name, make) in enumerate(STROKES):
        rng = np.random.default_rng(20261207 + index)
        signal = make(rng)
        path = os.path.join(OUT, name)
        write_wav(path, signal)
        print("%-22s %.3f s  centroid %6.0f Hz" % (name, len(signal) / RATE, spectral_centroid(signal)))


if __name__ == "__main__":
    main()
