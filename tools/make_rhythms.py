#!/usr/bin/python3
"""Writes the rhythm library (data/rhythms/*.krf) and the lesson playlists (*.krp).

Each rhythm is one row of RHYTHMS: file stem, title, tempo (BPM), beats per cycle,
steps per beat, number of cycles written, and the notation of ONE cycle. The script
repeats the cycle, checks that the result is a whole number of cycles within the
program's limits, and writes the four-line file. Run from anywhere:

    /usr/bin/python3 tools/make_rhythms.py
"""
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "data", "rhythms")

ALPHABET = set("dtkDTKPS-")
MAX_STEPS = 224
MAX_TITLE = 19  # the large letters that fit the title panel (gfx/title_row.h)

# stem, title, bpm, beats per cycle, steps per beat, cycles, one cycle of notation
RHYTHMS = [
    # --- 4/4 family, eighth-note steps -------------------------------------------------
    ("maqsum", "Maqsum", 100, 4, 2, 2, "dt-td-t-"),
    ("maqsum_filled", "Maqsum Filled", 100, 4, 2, 2, "DTkTDkTk"),
    ("maqsum_half_tek", "Maqsum Half Tek", 100, 4, 2, 2, "DTPTDPTP"),
    ("baladi", "Baladi", 90, 4, 2, 2, "dd-td-t-"),
    ("baladi_filled", "Baladi Filled", 90, 4, 2, 2, "DDkTDkTk"),
    ("baladi_slap", "Baladi Slap", 90, 4, 2, 2, "DDkSDkSk"),
    ("saidi", "Saidi", 100, 4, 2, 2, "dt-dd-t-"),
    ("saidi_filled", "Saidi Filled", 100, 4, 2, 2, "DTkDDkTk"),
    ("masmoudi_saghir", "Masmoudi Saghir", 90, 4, 2, 2, "dd-td-t-"),
    ("wahda", "Wahda", 80, 4, 2, 2, "d--t--t-"),
    ("murabba", "Murabba", 90, 4, 2, 2, "d--td-t-"),
    # --- 4/4 family, sixteenth-note steps ----------------------------------------------
    ("zaffa", "Zaffa", 90, 4, 4, 1, "d--tk-t-t---d-t-"),
    ("jerk", "Jerk", 110, 4, 4, 1, "d--t--t-d-t-t-k-"),
    ("bolero", "Bolero", 80, 4, 4, 1, "d-kkt-kkt-kkd-t-"),
    ("rumba", "Rumba", 100, 4, 4, 1, "d--t--t-d---t---"),
    # --- 2/4 rhythms, sixteenth-note steps ---------------------------------------------
    ("malfuf", "Malfuf", 100, 2, 4, 2, "d--t--t-"),
    ("malfuf_filled", "Malfuf Filled", 100, 2, 4, 2, "DkkTkkTk"),
    ("ayoub", "Ayoub", 110, 2, 4, 2, "d--kd-t-"),
    ("ayoub_filled", "Ayoub Filled", 110, 2, 4, 2, "D-kkD-Tk"),
    ("fallahi", "Fallahi", 120, 2, 4, 2, "dt-td-t-"),
    ("khaleegi", "Khaleegi", 100, 2, 4, 2, "d--d--t-"),
    ("karachi", "Karachi", 110, 2, 4, 2, "d-kkt-d-"),
    # --- long cycles, eighth-note steps ------------------------------------------------
    ("masmoudi_kebir", "Masmoudi Kebir", 70, 8, 2, 1, "d-d---d-t---d-t-"),
    ("masmoudi_kebir_filled", "Masmoudi Kebir Fill", 70, 8, 2, 1, "D-D-tkD-T-tkD-Tk"),
    ("chiftetelli", "Chiftetelli", 70, 8, 2, 1, "d--kt-t-d-d-t---"),
    ("sombati", "Sombati", 70, 8, 2, 1, "d--t-t--d---t---"),
    ("nawakht", "Nawakht", 100, 7, 2, 1, "d-t-t-d-t-t---"),
    # --- odd meters: one step per eighth-note beat -------------------------------------
    ("karsilama", "Karsilama", 180, 9, 1, 2, "d-t-d-t-t"),
    ("karsilama_filled", "Karsilama Filled", 180, 9, 1, 2, "DkTkDkTkT"),
    ("aqsaq", "Aqsaq", 180, 9, 1, 2, "d-t-dd-t-"),
    ("samai_thaqil", "Samai Thaqil", 150, 10, 1, 2, "d--t-ddt--"),
    ("dawr_hindi", "Dawr Hindi", 180, 7, 1, 2, "d-td-t-"),
    ("laz", "Laz", 200, 7, 1, 2, "d-t-d-t"),
    ("dandana", "Dandana", 180, 7, 1, 2, "d--t-t-"),
]

# Lessons: playlist file -> [(rhythm stem, repeat count)]
PLAYLISTS = {
    "lesson_beginner.krp": [
        ("maqsum", 4), ("baladi", 4), ("saidi", 4), ("malfuf", 4),
        ("ayoub", 4), ("maqsum_filled", 4), ("baladi_filled", 4),
    ],
    "lesson_four_four_family.krp": [
        ("maqsum", 2), ("maqsum_filled", 4), ("maqsum_half_tek", 4),
        ("baladi", 2), ("baladi_filled", 4), ("baladi_slap", 4),
        ("saidi", 2), ("saidi_filled", 4), ("masmoudi_saghir", 4),
        ("wahda", 4), ("zaffa", 4), ("rumba", 4), ("bolero", 4),
    ],
    "lesson_odd_meters.krp": [
        ("dawr_hindi", 4), ("laz", 4), ("dandana", 4), ("karsilama", 4),
        ("karsilama_filled", 4), ("aqsaq", 4), ("samai_thaqil", 4), ("nawakht", 4),
    ],
    "lesson_long_cycles.krp": [
        ("masmoudi_kebir", 4), ("masmoudi_kebir_filled", 4),
        ("chiftetelli", 4), ("sombati", 4),
    ],
}


def check_row(stem, title, bpm, beats, sub, cycles, cycle):
    problems = []
    if not title or len(title) > MAX_TITLE or not all(c.isalpha() or c == " " for c in title):
        problems.append("title must be 1-%d letters/spaces" % MAX_TITLE)
    if not (30 <= bpm <= 300):
        problems.append("tempo outside 30-300")
    if beats < 1 or sub < 1 or cycles < 1:
        problems.append("beats, subdivision and cycles must be positive")
    if len(cycle) != beats * sub:
        problems.append("cycle has %d steps, expected %d x %d" % (len(cycle), beats, sub))
    if not set(cycle) <= ALPHABET:
        problems.append("bad characters %s" % sorted(set(cycle) - ALPHABET))
    if len(cycle) * cycles > MAX_STEPS:
        problems.append("more than %d steps" % MAX_STEPS)
    if cycle[0] == "-":
        problems.append("cycle should start on a stroke")
    return ["%s: %s" % (stem, p) for p in problems]


def main():
    problems = []
    stems = set()
    for row in RHYTHMS:
        problems += check_row(*row)
        if row[0] in stems:
            problems.append("%s: duplicate" % row[0])
        stems.add(row[0])
    for name, entries in PLAYLISTS.items():
        for stem, count in entries:
            if stem not in stems or count < 1:
                problems.append("%s: bad entry %s %d" % (name, stem, count))
    if problems:
        print("\n".join(problems), file=sys.stderr)
        return 1

    os.makedirs(OUT, exist_ok=True)
    for stem, title, bpm, beats, sub, cycles, cycle in RHYTHMS:
        with open(os.path.join(OUT, stem + ".krf"), "w", newline="\n") as f:
            f.write("%s\n%d\n%d\n%s\n" % (title, bpm, sub, cycle * cycles))
    for name, entries in PLAYLISTS.items():
        with open(os.path.join(OUT, name), "w", newline="\n") as f:
            for stem, count in entries:
                f.write("%s.krf\n%d\n" % (stem, count))
    print("wrote %d rhythms and %d playlists to %s" % (len(RHYTHMS), len(PLAYLISTS), OUT))
    return 0


if __name__ == "__main__":
    sys.exit(main())
