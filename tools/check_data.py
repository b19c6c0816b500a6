#!/usr/bin/python3
"""Validates the tutor's data: images, samples, rhythm library, playlists, help and icons.

Prints one line per problem and exits 1 if there is any; prints a summary and the sample
measurements otherwise. Run from anywhere:

    /usr/bin/python3 tools/check_data.py
"""
import glob
import os
import re
import struct
import sys
import wave

import numpy as np
from PIL import Image

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "data")
sys.path.insert(0, os.path.join(ROOT, "tools"))
import make_rhythms  # noqa: E402  (the table the library is generated from)

problems = []


def fail(msg):
    problems.append(msg)


# ---- images ---------------------------------------------------------------------------
FIXED_SIZES = {
    "600x480Background": (600, 480), "slider": (30, 10), "metronome": (150, 150),
    "numbersImage": (150, 15), "lrgAlphaLetters": (420, 60), "smAlphaLetters": (210, 30),
    "rhythmNotes": (180, 40), "playlistbuttons": (84, 16),
}
LABELS = ["pausedLabel", "playingLabel", "stoppedLabel"]
BANNERS = ["kvbanner", "hiddenNotesBanner"]
ALL_IMAGES = list(FIXED_SIZES) + LABELS + BANNERS


def read_bmp(name):
    """Parses our BMP subset strictly; returns an H x W x 3 RGB array (top row first)."""
    path = os.path.join(DATA, "images", name + ".bmp")
    if not os.path.isfile(path):
        fail("images/%s.bmp: missing" % name)
        return None
    raw = open(path, "rb").read()
    if len(raw) < 54 or raw[:2] != b"BM":
        fail("images/%s.bmp: not a BMP" % name)
        return None
    _, fsize, _, _, offset = struct.unpack_from("<2sIHHI", raw, 0)
    hsize, w, h, planes, bpp, comp, isize = struct.unpack_from("<IiiHHII", raw, 14)
    where = "images/%s.bmp" % name
    if hsize != 40:
        fail("%s: info header is %d bytes, expected 40" % (where, hsize))
    if bpp != 32 or comp != 0 or planes != 1:
        fail("%s: %d bpp, compression %d, planes %d (want 32, BI_RGB, 1)" % (where, bpp, comp, planes))
    if h <= 0 or w <= 0:
        fail("%s: size %d x %d (height must be positive: bottom-up rows)" % (where, w, h))
        return None
    if offset != 54 or fsize != len(raw) or len(raw) != 54 + 4 * w * h:
        fail("%s: header sizes/offset inconsistent with %d x %d x 4 bytes" % (where, w, h))
        return None
    px = np.frombuffer(raw, np.uint8, offset=54).reshape(h, w, 4)[::-1]
    if px[:, :, 3].any():
        fail("%s: fourth byte of each pixel must be 0" % where)
    return px[:, :, 2::-1].astype(np.int32)  # BGR0 -> RGB


def differs(cell, colour, min_pixels=6):
    return int((np.abs(cell - np.array(colour)).sum(axis=2) > 60).sum()) >= min_pixels


def uniform(region):
    return (region == region[0, 0]).all()


def check_images():
    img = {n: read_bmp(n) for n in ALL_IMAGES}
    for name, (w, h) in FIXED_SIZES.items():
        if img[name] is not None and img[name].shape[:2] != (h, w):
            fail("images/%s.bmp: %d x %d, expected %d x %d" % (name, img[name].shape[1], img[name].shape[0], w, h))
    for name in LABELS:
        a = img[name]
        if a is not None and not (a.shape[1] <= 177 and 12 <= a.shape[0] <= 20):
            fail("images/%s.bmp: %d x %d, want at most 177 wide and about 16 high" % (name, a.shape[1], a.shape[0]))
    for name in BANNERS:
        if img[name] is not None:
            bh, bw = img[name].shape[:2]
            if bw > 470 or bh > 110:
                fail("images/%s.bmp: %d x %d exceeds 470 x 110" % (name, bw, bh))
    if any(v is None for v in img.values()):
        return

    # every letter, digit and notation cell has a drawn glyph; the space cell is blank
    for name, cell in (("lrgAlphaLetters", 30), ("smAlphaLetters", 15)):
        sheet = img[name]
        bg = sheet[cell + 1, cell * 12 + 1]
        for i in range(26):
            r, c = divmod(i, 14)
            if not differs(sheet[r * cell:(r + 1) * cell, c * cell:(c + 1) * cell], bg):
                fail("images/%s.bmp: letter %s is empty" % (name, chr(65 + i)))
        if not uniform(sheet[cell:2 * cell, 12 * cell:13 * cell]):
            fail("images/%s.bmp: the space cell (row 1, column 12) is not blank" % name)
        if bg.sum() > 3 * 24:
            fail("images/%s.bmp: cell background should be black or near-black" % name)
    digits = img["numbersImage"]
    for d in range(10):
        cell = digits[:, 15 * d:15 * d + 15]
        if not differs(cell, cell[0, 0]):
            fail("images/numbersImage.bmp: digit %d is empty" % d)
    notes = img["rhythmNotes"]
    for c, sym in enumerate("dtkDTKPS-"):
        plain = notes[20:40, 20 * c:20 * c + 20]
        lit = notes[0:20, 20 * c:20 * c + 20]
        if not differs(plain, (0, 0, 0), 4):
            fail("images/rhythmNotes.bmp: glyph %r is empty" % sym)
        # highlighted = inverted: a bright tile where the plain glyph has black ground
        if lit[2, 2].sum() < plain[2, 2].sum() + 300 or np.abs(lit - plain).mean() < 50:
            fail("images/rhythmNotes.bmp: highlighted %r is not clearly inverted" % sym)
    glyphs = [notes[20:40, 20 * c:20 * c + 20] for c in range(9)]
    for a in range(9):
        for b in range(a + 1, 9):
            if np.abs(glyphs[a] - glyphs[b]).sum() < 20 * 20 * 30:
                fail("images/rhythmNotes.bmp: glyphs %d and %d look alike" % (a, b))

    # the background under each sprite's place
    bg = img["600x480Background"]

    def screen(x0, y0, x1, y1):  # inclusive screen bounds -> background pixels
        return bg[y0 - 13:y1 - 13 + 1, x0:x1 + 1]

    plain = [("title", (7, 39, 586, 68), (0, 0, 0)),
             ("playlist notice", (10, 80, 219, 94), tuple(img["smAlphaLetters"][0, 0])),
             ("notation area", (10, 290, 569, 449), (0, 0, 0)),
             ("banner", (65, 330, 534, 439), tuple(img["kvbanner"][0, 0])),
             ("state label", (73, 232, 242, 247), tuple(img["playingLabel"][0, 0])),
             ("tempo digits", (250, 235, 294, 249), tuple(img["numbersImage"][0, 0])),
             ("playlist buttons", (10, 200, 93, 215), tuple(img["playlistbuttons"][0, 0]))]
    for what, (x0, y0, x1, y1), colour in plain:
        region = screen(x0, y0, x1, y1)
        if not (region == np.array(colour)).all():
            fail("background: %s area %s is not plain %s" % (what, (x0, y0, x1, y1), colour))
    for what, box in (("play", (10, 230, 25, 245)), ("pause", (28, 230, 43, 245)),
                      ("stop", (46, 230, 61, 245))):
        region = screen(*box)
        if region.max() < 200 or uniform(region):
            fail("background: %s button is not drawn under its hot rectangle" % what)
    for what, x0 in (("tempo", 448), ("volume", 537)):
        if screen(x0, 96, x0 + 11, 211).mean() > 40:
            fail("background: %s slider track is not a dark slot" % what)
    rest = screen(225, 80, 374, 229)
    if uniform(rest):
        fail("background: no resting metronome picture")
    if np.abs(img["metronome"] - rest).mean() < 40:
        fail("metronome.bmp: flash is not clearly distinct from the resting picture")
    if screen(0, 440, 599, 449).std() == 0 and screen(0, 13, 599, 440).std() == 0:
        fail("background: blank")


# ---- samples --------------------------------------------------------------------------
SAMPLES = ["doumBackClipped.wav", "tek_front.wav", "half_tek_front.wav", "slap_front.wav"]
measured = {}


def check_samples():
    for name in SAMPLES:
        path = os.path.join(DATA, "soundFont", name)
        if not os.path.isfile(path):
            fail("soundFont/%s: missing" % name)
            continue
        with wave.open(path, "rb") as w:
            if (w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getcomptype()) != (1, 2, 44100, "NONE"):
                fail("soundFont/%s: must be 44.1 kHz 16-bit mono PCM" % name)
                continue
            x = np.frombuffer(w.readframes(w.getnframes()), "<i2").astype(np.float64) / 32768.0
        seconds = len(x) / 44100.0
        peak = np.abs(x).max()
        peak_db = 20 * np.log10(peak) if peak > 0 else -200
        attack = int(np.argmax(np.abs(x) >= 0.1 * peak))
        spectrum = np.abs(np.fft.rfft(x))
        freqs = np.fft.rfftfreq(len(x), 1 / 44100.0)
        centroid = float((freqs * spectrum).sum() / spectrum.sum())
        measured[name] = (seconds, peak_db, centroid, attack)
        if not 0.05 < seconds < 0.6:
            fail("soundFont/%s: %.3f s, must be under 0.6 s" % (name, seconds))
        if attack > 88:
            fail("soundFont/%s: attack at sample %d, later than 2 ms" % (name, attack))
        if not -6.0 <= peak_db <= -1.0:
            fail("soundFont/%s: peak %.1f dBFS, want about -3" % (name, peak_db))
    if len(measured) == 4:
        c = {n: measured[n][2] for n in SAMPLES}
        if c["doumBackClipped.wav"] > 600:
            fail("doum centroid %.0f Hz is not low" % c["doumBackClipped.wav"])
        if c["tek_front.wav"] < 3000:
            fail("tek centroid %.0f Hz is not high" % c["tek_front.wav"])
        if not c["doumBackClipped.wav"] < c["half_tek_front.wav"] < c["tek_front.wav"]:
            fail("centroids should rise doum < half tek < tek")
        if not c["doumBackClipped.wav"] < c["slap_front.wav"]:
            fail("slap should be brighter than doum")


# ---- rhythms and playlists ------------------------------------------------------------
POSITIVE = re.compile(r"^[1-9][0-9]*$")
TITLE = re.compile(r"^[A-Za-z ]{1,19}$")  # 19 letters fit the title panel
NOTATION = re.compile(r"^[dtkDTKPS-]{1,224}$")


def lines_of(path):
    raw = open(path, "rb").read()
    if b"\r" in raw or not raw.endswith(b"\n"):
        return None
    return raw.decode("ascii").split("\n")[:-1]


def check_rhythms():
    table = {row[0]: row for row in make_rhythms.RHYTHMS}
    files = sorted(glob.glob(os.path.join(DATA, "rhythms", "*.krf")))
    if len(files) < 24:
        fail("rhythms: only %d rhythm files, want at least 24" % len(files))
    stems = set()
    for path in files:
        stem = os.path.basename(path)[:-4]
        stems.add(stem)
        where = "rhythms/%s.krf" % stem
        if not re.match(r"^[a-z0-9]+(_[a-z0-9]+)*$", stem):
            fail("%s: file name is not lower_snake_case" % where)
        lines = lines_of(path)
        if lines is None or len(lines) != 4:
            fail("%s: must be exactly four LF-terminated lines" % where)
            continue
        title, bpm, sub, notes = lines
        if not TITLE.match(title) or title.strip() != title:
            fail("%s: title %r must be 1-19 letters and spaces" % (where, title))
        if not POSITIVE.match(bpm) or not 30 <= int(bpm) <= 300:
            fail("%s: tempo %r must be a whole number in 30-300" % (where, bpm))
        if not POSITIVE.match(sub):
            fail("%s: subdivision %r must be a positive whole number" % (where, sub))
        if not NOTATION.match(notes):
            fail("%s: notation must be 1-224 characters of dtkDTKPS-" % where)
        row = table.get(stem)
        if row is None:
            fail("%s: not in tools/make_rhythms.py's table" % where)
            continue
        _, t_title, t_bpm, beats, t_sub, cycles, cycle = row
        if (title, bpm, sub) != (t_title, str(t_bpm), str(t_sub)):
            fail("%s: differs from the table; regenerate" % where)
        if len(notes) % (beats * t_sub) != 0:
            fail("%s: %d steps is not a whole number of %d-step cycles" % (where, len(notes), beats * t_sub))
        if notes != cycle * cycles:
            fail("%s: notation differs from the table; regenerate" % where)
    for stem in set(table) - stems:
        fail("rhythms/%s.krf: in the table but not generated" % stem)
    required = ["maqsum", "baladi", "saidi", "malfuf", "ayoub", "masmoudi_kebir", "masmoudi_saghir",
                "wahda", "chiftetelli", "karsilama", "samai_thaqil", "fallahi", "zaffa", "khaleegi",
                "sombati", "jerk", "bolero", "dawr_hindi", "laz", "aqsaq", "dandana", "nawakht",
                "murabba", "rumba"]
    for stem in required:
        if stem not in stems:
            fail("rhythms: %s.krf is missing" % stem)

    playlists = sorted(glob.glob(os.path.join(DATA, "rhythms", "*.krp")))
    if len(playlists) < 3:
        fail("rhythms: only %d playlists, want at least 3" % len(playlists))
    for path in playlists:
        where = "rhythms/" + os.path.basename(path)
        lines = lines_of(path)
        if lines is None or not lines or len(lines) % 2:
            fail("%s: must be LF-terminated pairs of lines" % where)
            continue
        for i in range(0, len(lines), 2):
            target = os.path.join(os.path.dirname(path), lines[i])
            if not lines[i].endswith(".krf") or not os.path.isfile(target):
                fail("%s: entry %r does not name an existing rhythm file" % (where, lines[i]))
            if not POSITIVE.match(lines[i + 1]):
                fail("%s: repeat count %r must be a positive whole number" % (where, lines[i + 1]))


# ---- help and icons -------------------------------------------------------------------
def check_help():
    path = os.path.join(DATA, "Help", "index.html")
    if not os.path.isfile(path):
        fail("Help/index.html: missing")
        return
    text = open(path, encoding="utf-8").read()
    for needed in ("Open Rhythm File", "Open Playlist File", "Play", "Pause", "Stop", "30 to 300",
                   "Volume", "Previous", "Next", "Show / Hide Notes", "Half tek", "Slap", ".krf", ".krp"):
        if needed not in text:
            fail("Help/index.html: does not cover %r" % needed)
    if re.search(r"(src|href)\s*=\s*\"(https?:|//)", text):
        fail("Help/index.html: refers to external resources")


def check_icon(rel, size):
    path = os.path.join(ROOT, rel)
    if not os.path.isfile(path):
        fail("%s: missing" % rel)
        return
    raw = open(path, "rb").read()
    reserved, kind, count = struct.unpack_from("<HHH", raw, 0)
    w, h, colours, _, planes, bpp, nbytes, offset = struct.unpack_from("<BBBBHHII", raw, 6)
    if (reserved, kind, count) != (0, 1, 1):
        fail("%s: must be an icon file holding one image" % rel)
    if (w, h) != (size % 256, size % 256) or bpp != 8:
        fail("%s: %d x %d at %d bpp, expected %d x %d at 8 bpp" % (rel, w, h, bpp, size, size))
    info = struct.unpack_from("<IiiHH", raw, offset)
    if info[0] != 40 or info[1] != size or info[2] != 2 * size or info[4] != 8:
        fail("%s: image is not an 8-bit %d x %d DIB" % (rel, size, size))
    try:
        Image.open(path).load()
    except Exception as e:  # report, do not crash the whole check
        fail("%s: unreadable (%s)" % (rel, e))


def main():
    check_images()
    check_samples()
    check_rhythms()
    check_help()
    check_icon("app/res/tabladex.ico", 64)
    check_icon("app/res/tabladex_small.ico", 16)
    for name, (seconds, peak_db, centroid, attack) in measured.items():
        print("%-22s %.3f s  peak %5.2f dBFS  centroid %6.0f Hz  attack at sample %d"
              % (name, seconds, peak_db, centroid, attack))
    if problems:
        print("\n".join("FAIL " + p for p in problems))
        print("%d problem(s)" % len(problems))
        return 1
    print("all data checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
