#!/usr/bin/python3
"""Draws every bitmap of the tutor's window into data/images/ (32-bit BI_RGB BMP) and the
application icons into app/res/ (256-colour ICO) and packaging/icons/hicolor/ (PNG, SVG).

The look: a deep-indigo panel with brass trim and cream lettering; every place where the
program draws a sprite is a flat colour (black for the title, notice, notation and banner
areas; the LCD colour inside the label and digit frames; the panel colour under the
sliders and playlist buttons) so that opaque sprites sit seamlessly on it.

All positions below are screen pixels of the 600 x 480 back buffer. The background image
is drawn at (0, 13), so it is painted here on a canvas of screen rows 0-492 and cropped.
The window's client area is the buffer less the menu bar's height (20 rows on Windows and
the headless backend, 20 to 27 with GTK themes), so only rows 0-452 are ever seen: all the
art ends above VISIBLE_ROWS, and the rest of the background is plain panel.

Run from anywhere (writes data/images/*.bmp, app/res/*.ico and packaging/icons/; with
--mock PATH also an assembled screenshot of the window for a visual check):

    /usr/bin/python3 tools/make_images.py [--mock /work/mock.png]
"""
import math
import os
import struct
import sys

from PIL import Image, ImageDraw, ImageFilter, ImageFont

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
IMAGES = os.path.join(ROOT, "data", "images")
ICONS = os.path.join(ROOT, "app", "res")
DESKTOP_ICONS = os.path.join(ROOT, "packaging", "icons", "hicolor")
FONT_DIR = "/usr/share/fonts/truetype/dejavu"

SS = 4  # supersampling factor for antialiased shapes
BG_Y = 13  # screen row of the background image's first row
VISIBLE_ROWS = 453  # screen rows seen under a menu bar of up to 27 rows
NOTICE_SLOT_RIGHT = 412  # the notice slot's right edge: a 4-pixel gap before the sliders' panel

# ---- palette --------------------------------------------------------------------------
BLACK = (0, 0, 0)
PANEL = (24, 21, 52)          # flat indigo of the main panel
PANEL_DEEP = (14, 12, 32)     # header band and shadows
PANEL_HI = (40, 35, 80)       # raised highlights on the panel
LCD = (9, 8, 20)              # inside the label and digit frames
SLOT = (5, 4, 12)             # slider grooves
BRASS = (206, 160, 72)
BRASS_HI = (250, 218, 140)
BRASS_LO = (118, 84, 34)
CREAM = (246, 236, 208)
AMBER = (255, 176, 48)
MUTED = (150, 140, 190)       # secondary lettering on the panel

# stroke colours for the notation
C_DOUM = (240, 146, 44)
C_TEK = (110, 200, 255)
C_KA = (130, 226, 120)
C_HALF = (170, 190, 255)
C_SLAP = (255, 84, 96)
C_REST = (92, 88, 120)


def font(name, size):
    return ImageFont.truetype(os.path.join(FONT_DIR, name), size)


BOLD = "DejaVuSans-Bold.ttf"
COND = "DejaVuSansCondensed-Bold.ttf"
SERIF = "DejaVuSerif-Bold.ttf"


# ---- BMP output -----------------------------------------------------------------------
def write_bmp(path, image):
    """Writes an uncompressed 32-bit BI_RGB BMP: rows bottom-up, pixels B, G, R, 0."""
    image = image.convert("RGB")
    w, h = image.size
    raw = image.tobytes()
    rows = []
    for y in range(h - 1, -1, -1):
        row = bytearray(w * 4)
        src = raw[y * w * 3:(y + 1) * w * 3]
        row[0::4] = src[2::3]
        row[1::4] = src[1::3]
        row[2::4] = src[0::3]
        rows.append(bytes(row))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 32, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 14 + 40)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


# ---- supersampled drawing -------------------------------------------------------------
class Layer:
    """A drawing surface in 1x pixel units, rendered at SS x and reduced for antialiasing.

    Rectangles take inclusive pixel bounds, like the program's hot rectangles."""

    def __init__(self, w, h, fill):
        self.w, self.h = w, h
        self.img = Image.new("RGB", (w * SS, h * SS), fill)
        self.d = ImageDraw.Draw(self.img)

    def box(self, x0, y0, x1, y1):
        return [x0 * SS, y0 * SS, (x1 + 1) * SS - 1, (y1 + 1) * SS - 1]

    def rect(self, x0, y0, x1, y1, fill=None, outline=None, width=1, radius=0):
        b = self.box(x0, y0, x1, y1)
        if radius:
            self.d.rounded_rectangle(b, radius * SS, fill=fill, outline=outline, width=width * SS)
        else:
            self.d.rectangle(b, fill=fill, outline=outline, width=width * SS)

    def ellipse(self, cx, cy, rx, ry, fill=None, outline=None, width=1):
        self.d.ellipse([(cx - rx) * SS, (cy - ry) * SS, (cx + rx) * SS, (cy + ry) * SS],
                       fill=fill, outline=outline, width=int(width * SS))

    def polygon(self, pts, fill=None, outline=None):
        self.d.polygon([(x * SS, y * SS) for x, y in pts], fill=fill, outline=outline)

    def line(self, pts, fill, width=1):
        self.d.line([(x * SS, y * SS) for x, y in pts], fill=fill, width=int(width * SS))

    def text(self, xy, s, fnt_name, size, fill, anchor="la"):
        f = font(fnt_name, size * SS)
        self.d.text((xy[0] * SS, xy[1] * SS), s, font=f, fill=fill, anchor=anchor)

    def result(self):
        return self.img.resize((self.w, self.h), Image.BOX)


def text_1x(img, xy, s, fnt_name, size, fill, anchor="la"):
    """Hinted text straight at 1x, crisper than supersampling for small sizes."""
    ImageDraw.Draw(img).text(xy, s, font=font(fnt_name, size), fill=fill, anchor=anchor)


def gradient_text(size, s, fnt_name, pt, top, bottom, anchor="mm", pos=None, bg=BLACK):
    """Text filled with a vertical gradient, on a flat background, at 1x."""
    w, h = size
    mask = Image.new("L", size, 0)
    f = font(fnt_name, pt)
    ImageDraw.Draw(mask).text(pos or (w / 2, h / 2), s, font=f, fill=255, anchor=anchor)
    grad = Image.new("RGB", size)
    gd = ImageDraw.Draw(grad)
    for y in range(h):
        t = y / max(1, h - 1)
        gd.line([(0, y), (w, y)], fill=tuple(int(a + (b - a) * t) for a, b in zip(top, bottom)))
    out = Image.new("RGB", size, bg)
    out.paste(grad, (0, 0), mask)
    return out


# ---- shared pieces --------------------------------------------------------------------
def button_face(layer, x0, y0, glyph):
    """A 16 x 16 brass-rimmed button with a cream glyph; x0, y0 its top-left pixel."""
    layer.rect(x0, y0, x0 + 15, y0 + 15, fill=BRASS_LO, radius=3)
    layer.rect(x0, y0, x0 + 15, y0 + 14, fill=BRASS, radius=3)
    layer.rect(x0 + 1, y0 + 1, x0 + 14, y0 + 14, fill=(34, 30, 66), radius=2)
    layer.rect(x0 + 2, y0 + 2, x0 + 13, y0 + 13, fill=(20, 17, 42), radius=2)
    cx, cy = x0 + 8, y0 + 8
    c = BRASS_HI
    if glyph == "play":
        layer.polygon([(cx - 3.5, cy - 5), (cx - 3.5, cy + 5), (cx + 5, cy)], fill=(150, 232, 130))
    elif glyph == "pause":
        layer.rect(x0 + 4, y0 + 4, x0 + 6, y0 + 11, fill=c)
        layer.rect(x0 + 9, y0 + 4, x0 + 11, y0 + 11, fill=c)
    elif glyph == "stop":
        layer.rect(x0 + 4, y0 + 4, x0 + 11, y0 + 11, fill=(255, 120, 110))
    elif glyph == "prev":
        layer.rect(x0 + 3, y0 + 4, x0 + 4, y0 + 11, fill=c)
        layer.polygon([(cx + 4.5, cy - 4.5), (cx + 4.5, cy + 4.5), (cx - 3, cy)], fill=c)
    elif glyph == "next":
        layer.rect(x0 + 11, y0 + 4, x0 + 12, y0 + 11, fill=c)
        layer.polygon([(cx - 4.5, cy - 4.5), (cx - 4.5, cy + 4.5), (cx + 3, cy)], fill=c)


def brass_frame(layer, x0, y0, x1, y1, inner, radius=3):
    """A brass bezel whose interior (x0+2..x1-2, y0+2..y1-2) is the flat colour inner."""
    layer.rect(x0, y0, x1, y1, fill=BRASS_LO, radius=radius)
    layer.rect(x0, y0, x1, y1 - 1, fill=BRASS, radius=radius)
    layer.rect(x0 + 1, y0 + 1, x1 - 1, y1 - 1, fill=BRASS_LO, radius=max(0, radius - 1))
    layer.rect(x0 + 2, y0 + 2, x1 - 2, y1 - 2, fill=inner)


def metronome_art(lit):
    """The 150 x 150 beat lamp: a drum head seen from above inside a brass ring.

    At rest it is a dim head; lit, the head glows amber with a burst of rays."""
    L = Layer(150, 150, PANEL)
    c = 75
    if lit:
        # A soft halo inside the square (kept off the edges so the margins stay PANEL).
        halo = Image.new("RGB", (150, 150), PANEL)
        hd = ImageDraw.Draw(halo)
        for r in range(74, 60, -1):
            t = (74 - r) / 14.0
            col = tuple(int(p + (a - p) * t * 0.55) for p, a in zip(PANEL, (255, 150, 40)))
            hd.ellipse([c - r, c - r, c + r, c + r], fill=col)
        L.img = halo.resize((150 * SS, 150 * SS), Image.BILINEAR)
        L.d = ImageDraw.Draw(L.img)
    # brass ring with tuning-lug studs
    L.ellipse(c, c + 1, 62, 62, fill=BRASS_LO)
    L.ellipse(c, c, 62, 62, fill=BRASS_HI if lit else BRASS)
    L.ellipse(c, c, 56, 56, fill=BRASS_LO)
    for i in range(12):
        a = i * math.pi / 6
        L.ellipse(c + 59 * math.cos(a), c + 59 * math.sin(a), 2.2, 2.2,
                  fill=(255, 244, 200) if lit else BRASS_HI)
    # the head
    if lit:
        for r in range(54, 0, -2):
            t = 1 - r / 54.0
            col = tuple(int(a + (b - a) * t ** 0.8) for a, b in zip((200, 90, 20), (255, 248, 214)))
            L.ellipse(c, c, r, r, fill=col)
        for i in range(16):
            a = i * math.pi / 8 + math.pi / 16
            r0, r1 = (14, 50) if i % 2 == 0 else (18, 38)
            L.line([(c + r0 * math.cos(a), c + r0 * math.sin(a)),
                    (c + r1 * math.cos(a), c + r1 * math.sin(a))], fill=(255, 255, 236), width=2)
        L.ellipse(c, c, 13, 13, fill=(255, 255, 245))
    else:
        L.ellipse(c, c, 54, 54, fill=(44, 36, 70))
        for r, col in ((50, (52, 44, 82)), (40, (46, 39, 74)), (28, (40, 34, 66))):
            L.ellipse(c, c, r, r, outline=col, width=1.5)
        L.ellipse(c, c, 13, 13, fill=(70, 54, 40))
        L.ellipse(c, c, 13, 13, outline=BRASS_LO, width=1.5)
    return L.result()


# ---- the background -------------------------------------------------------------------
def goblet_drum(L, x0, y0, scale=1.0, lit=False):
    """A goblet drum lying on its side, head to the left; for the panel art."""
    def P(x, y):
        return (x0 + x * scale, y0 + y * scale)
    body = [P(0, 4), P(30, 0), P(70, 10), P(100, 28), P(116, 34), P(140, 28), P(156, 16), P(162, 12),
            P(162, 84), P(156, 80), P(140, 68), P(116, 62), P(100, 68), P(70, 86), P(30, 96), P(0, 92)]
    L.polygon([(x + 1, y + 2) for x, y in body], fill=PANEL_DEEP)
    L.polygon(body, fill=(120, 66, 30))
    # wood grain bands and mother-of-pearl inlay
    L.polygon([P(6, 10), P(30, 6), P(66, 15), P(94, 30), P(94, 66), P(66, 81), P(30, 90), P(6, 86)],
              fill=(150, 86, 38))
    for i in range(5):
        x = 20 + i * 14
        top = 8 + i * 3.4
        L.polygon([P(x, top + 8), P(x + 7, top + 20), P(x, top + 32), P(x - 7, top + 20)], fill=(234, 222, 196))
        L.polygon([P(x, 96 - top - 8), P(x + 7, 96 - top - 20), P(x, 96 - top - 32), P(x - 7, 96 - top - 20)],
                  fill=(234, 222, 196))
    L.polygon([P(96, 25), P(100, 27), P(100, 69), P(96, 71)], fill=BRASS)
    L.polygon([P(158, 13), P(162, 11), P(162, 85), P(158, 83)], fill=BRASS)
    # the head (ellipse seen edge-on) with its brass rim
    L.ellipse(x0 + 2 * scale, y0 + 48 * scale, 9 * scale, 47 * scale, fill=BRASS)
    L.ellipse(x0 + 3 * scale, y0 + 48 * scale, 6 * scale, 43 * scale, fill=(236, 224, 196))


def background():
    H = 493  # screen rows 0..492; rows 13..492 become the image
    L = Layer(600, H, PANEL)

    # header band with the program's name
    L.rect(0, 13, 599, 33, fill=PANEL_DEEP)
    L.rect(0, 33, 599, 33, fill=BRASS_LO)
    # title strip: black, where the title's letter cells are drawn at (7, 39)
    brass_frame(L, 2, 35, 597, 74, BLACK, radius=3)
    # playlist notice slot at (10, 80): black like the small letters' cells. The notice is
    # one line of 15-pixel cells (the next entry's title, " in " and a count), so it runs
    # on under the metronome's square and needs the width up to the sliders' panel; the
    # metronome's resting picture, pasted below, covers the middle of the slot as its
    # flash does, and the slot's top edge stays above the square.
    brass_frame(L, 6, 77, NOTICE_SLOT_RIGHT, 98, BLACK, radius=3)

    # decorative drum on the left panel
    goblet_drum(L, 30, 104, scale=0.95)
    # transport buttons exactly under their hot rectangles
    button_face(L, 10, 230, "play")
    button_face(L, 28, 230, "pause")
    button_face(L, 46, 230, "stop")
    # state label frame (labels at 73, 232, up to 170 x 16)
    brass_frame(L, 69, 230, 246, 251, LCD, radius=3)
    # tempo digits frame (digits at 250, 235; interior 250-295 x 235-250)
    brass_frame(L, 248, 233, 297, 252, LCD, radius=3)

    # sliders panel
    L.rect(417, 77, 580, 229, fill=PANEL_DEEP, radius=6)
    L.rect(418, 78, 579, 228, fill=PANEL, radius=5)
    L.rect(418, 78, 579, 228, outline=BRASS_LO, radius=5)
    for x0 in (448, 537):  # the grooves the knobs ride in (knob 30 wide, 9 to the left)
        L.rect(x0 - 2, 94, x0 + 13, 213, fill=BRASS_LO, radius=3)
        L.rect(x0 - 1, 95, x0 + 12, 212, fill=(10, 8, 22), radius=2)
        L.rect(x0, 96, x0 + 11, 211, fill=SLOT)
        L.rect(x0 + 5, 100, x0 + 6, 207, fill=(34, 28, 54))
        for i in range(11):  # ticks at the knob-centre positions, outside the knob's width
            y = 102 + i * 10.6
            long = i % 5 == 0
            for xa, xb in ((x0 - 9 - (6 if long else 3), x0 - 10), (x0 + 21, x0 + 21 + (6 if long else 3))):
                L.line([(xa, y), (xb, y)], fill=BRASS if long else BRASS_LO, width=1)
    # metronome's resting picture at (225, 80)
    rest = metronome_art(False)
    img = L.result()
    img.paste(rest, (225, 80))

    # lettering, crisp at 1x
    text_1x(img, (10, 15), "TABLADEX", SERIF, 14, BRASS_HI)
    text_1x(img, (590, 17), "GOBLET DRUM RHYTHM TUTOR", BOLD, 10, MUTED, anchor="ra")
    text_1x(img, (453, 82), "TEMPO", BOLD, 10, CREAM, anchor="ma")
    text_1x(img, (453, 215), "BPM", BOLD, 9, MUTED, anchor="ma")
    text_1x(img, (542, 82), "VOLUME", BOLD, 10, CREAM, anchor="ma")
    for y, s in ((102, "300"), (155, "165"), (208, "30")):
        text_1x(img, (476, y), s, COND, 8, MUTED, anchor="lm")
    for y, s in ((102, "MAX"), (208, "MIN")):
        text_1x(img, (565, y), s, COND, 7, MUTED, anchor="lm")
    text_1x(img, (301, 243), "BPM", BOLD, 11, CREAM, anchor="lm")

    # stroke legend between the controls and the notation
    legend = [("d", "DOUM"), ("t", "TEK"), ("k", "KA"), ("P", "HALF TEK"), ("S", "SLAP"),
              ("D", "ACCENT"), ("-", "REST")]
    x = 12
    for sym, name in legend:
        img.paste(note_glyph(sym, False, PANEL), (x, 261))
        text_1x(img, (x + 23, 271), name, BOLD, 9, CREAM, anchor="lm")
        x += 23 + int(font(BOLD, 9).getlength(name)) + 16

    # notation area: black, framed, covering the eight rows of cells at x 10-569, y 290-449.
    # The frame closes right under the last row so that its bottom edge (rows 450-451)
    # stays in sight whatever the menu bar's height.
    d = ImageDraw.Draw(img)
    d.rectangle([4, 284, 575, 451], fill=BRASS_LO)
    d.rectangle([5, 285, 574, 450], fill=BRASS)
    d.rectangle([6, 286, 573, 449], fill=BLACK)
    hidden = img.crop((0, VISIBLE_ROWS, 600, 480))
    assert hidden.getcolors() == [(hidden.width * hidden.height, PANEL)], "art below the visible rows"
    return img.crop((0, BG_Y, 600, BG_Y + 480))


# ---- sprites --------------------------------------------------------------------------
def slider_knob():
    L = Layer(30, 10, BRASS_LO)
    L.rect(0, 0, 29, 9, fill=(60, 40, 14))
    L.rect(1, 1, 28, 8, fill=BRASS)
    L.rect(1, 1, 28, 3, fill=BRASS_HI)
    L.rect(1, 7, 28, 8, fill=BRASS_LO)
    L.rect(2, 4, 27, 5, fill=(40, 26, 10))  # the index line
    L.rect(13, 2, 16, 7, fill=(255, 236, 180))
    return L.result()


def digits_sheet():
    img = Image.new("RGB", (150, 15), LCD)
    for dgt in range(10):
        cell = gradient_text((15, 15), str(dgt), BOLD, 15, (255, 214, 120), AMBER, bg=LCD, pos=(7.5, 7.5))
        img.paste(cell, (15 * dgt, 0))
    return img


def letters_sheet(cell, pt, top, bottom):
    img = Image.new("RGB", (cell * 14, cell * 2), BLACK)
    letters = "ABCDEFGHIJKLMN" + "OPQRSTUVWXYZ"
    for i, ch in enumerate(letters):
        row, col = divmod(i, 14)
        glyph = gradient_text((cell, cell), ch, COND, pt, top, bottom, bg=BLACK,
                              pos=(cell / 2, cell / 2 + (1 if cell >= 30 else 0.5)))
        img.paste(glyph, (col * cell, row * cell))
    return img  # row 1 column 12 (space) and column 13 stay black


def note_glyph(sym, highlight, bg=BLACK):
    """One 20 x 20 notation cell. Lower case = plain stroke, upper case = accented."""
    base = {"d": C_DOUM, "D": C_DOUM, "t": C_TEK, "T": C_TEK, "k": C_KA, "K": C_KA,
            "P": C_HALF, "S": C_SLAP, "-": C_REST}[sym]
    L = Layer(20, 20, bg)
    accent = sym in "DTK"
    if highlight:
        # inverted: a bright tile in the stroke's colour, the glyph in near-black
        tile = tuple(min(255, int(c * 0.55 + 255 * 0.45)) for c in base)
        L.rect(0, 0, 19, 19, fill=tile, radius=4)
        ink, hole = (16, 12, 28), tile
    else:
        ink, hole = base, bg
    if sym in "dD":
        r = 8.8 if accent else 6.0
        if accent and not highlight:  # bigger, with a cream outline and a sheen
            L.ellipse(10, 10, r, r, fill=CREAM)
            L.ellipse(10, 10, r - 1.4, r - 1.4, fill=ink)
            L.ellipse(7.6, 7.6, 2.4, 2.4, fill=tuple(min(255, c + 70) for c in ink))
        elif accent:  # inverted: dark disc with a ring in the tile colour
            L.ellipse(10, 10, r, r, fill=ink)
            L.ellipse(10, 10, r - 2.2, r - 2.2, outline=hole, width=1.2)
        else:
            L.ellipse(10, 10.5, r, r, fill=ink)
            L.ellipse(8, 8.5, 2.0, 2.0, fill=tuple(min(255, c + 60) for c in ink) if not highlight else ink)
    elif sym in "tTkK":
        w = 3.2 if accent else 2.0
        top = 1.5 if accent else 4.0
        L.polygon([(10, top), (10 + w, 13), (10 + w, 18), (10 - w, 18), (10 - w, 13)], fill=ink)
        if sym in "kK":  # the other hand: a dot beside the stroke
            L.ellipse(4.2 if accent else 5.0, 15.5, 2.1, 2.1, fill=ink)
        if accent:  # accented strokes: a cream outline makes them stand out
            edge = CREAM if not highlight else ink
            L.line([(10, top - 0.5), (10 + w + 0.6, 13), (10 + w + 0.6, 18.5), (10 - w - 0.6, 18.5),
                    (10 - w - 0.6, 13), (10, top - 0.5)], fill=edge, width=1.1)
    elif sym == "P":
        L.polygon([(10, 6), (13, 13), (13, 17), (7, 17), (7, 13)], outline=ink, fill=None)
        L.line([(10, 6), (13, 13), (13, 17), (7, 17), (7, 13), (10, 6)], fill=ink, width=1.3)
    elif sym == "S":
        pts = []
        for i in range(16):
            a = i * math.pi / 8 - math.pi / 2
            r = 9.0 if i % 2 == 0 else 3.6
            pts.append((10 + r * math.cos(a), 10 + r * math.sin(a)))
        L.polygon(pts, fill=ink)
    else:  # rest
        L.rect(6, 9, 13, 10, fill=ink)
    return L.result()


def notes_sheet():
    img = Image.new("RGB", (180, 40), BLACK)
    for c, sym in enumerate("dtkDTKPS-"):
        img.paste(note_glyph(sym, True), (20 * c, 0))
        img.paste(note_glyph(sym, False), (20 * c, 20))
    return img


def state_label(text, colour):
    img = Image.new("RGB", (170, 16), LCD)
    L = Layer(170, 16, LCD)
    L.ellipse(9, 8, 4, 4, fill=colour)
    L.ellipse(8, 7, 1.5, 1.5, fill=tuple(min(255, c + 90) for c in colour))
    img = L.result()
    text_1x(img, (20, 8.5), text, BOLD, 12, colour, anchor="lm")
    return img


def playlist_buttons():
    L = Layer(84, 16, PANEL)
    button_face(L, 0, 0, "prev")
    button_face(L, 68, 0, "next")
    img = L.result()
    text_1x(img, (42, 8.5), "PLAYLIST", COND, 9, MUTED, anchor="mm")
    return img


def banner(message):
    """The 470 x 110 banner over the empty notation area: the name, a rule and message."""
    w, h = 470, 110
    img = Image.new("RGB", (w, h), BLACK)
    L = Layer(w, h, BLACK)
    goblet_drum(L, 8, 18, scale=0.72)
    img = L.result()
    title = gradient_text((340, 56), "TABLADEX", SERIF, 46, BRASS_HI, (196, 128, 40), bg=BLACK,
                          pos=(0, 30), anchor="lm")
    img.paste(title, (130, 14))
    d = ImageDraw.Draw(img)
    d.line([(132, 70), (462, 70)], fill=BRASS_LO)
    assert font(BOLD, 13).getlength(message) <= w - 132 - 4, message
    text_1x(img, (132, 78), message, BOLD, 13, CREAM)
    return img


# ---- icons ----------------------------------------------------------------------------
def icon_art(size):
    """A goblet drum standing upright, head on top, on a transparent ground."""
    s = size * SS
    img = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)

    def P(x, y):
        return (x * s / 64.0, y * s / 64.0)
    body = [P(8, 12), P(56, 12), P(50, 24), P(39, 33), P(36, 40), P(42, 54), P(44, 60),
            P(20, 60), P(22, 54), P(28, 40), P(25, 33), P(14, 24)]
    d.polygon(body, fill=(128, 70, 30, 255), outline=(60, 32, 12, 255))
    d.polygon([P(12, 14), P(52, 14), P(47, 23), P(37, 31), P(27, 31), P(17, 23)], fill=(162, 94, 40, 255))
    if size >= 32:
        for x in (20, 32, 44):
            d.polygon([P(x, 15), P(x + 4, 21), P(x, 27), P(x - 4, 21)], fill=(236, 224, 196, 255))
        d.polygon([P(32, 43), P(35, 50), P(32, 57), P(29, 50)], fill=(236, 224, 196, 255))
    d.rectangle([P(26, 38)[0], P(26, 38)[1], P(38, 41)[0], P(38, 41)[1]], fill=(206, 160, 72, 255))
    d.rectangle([P(19, 58)[0], P(19, 58)[1], P(45, 61)[0], P(45, 61)[1]], fill=(206, 160, 72, 255))
    d.ellipse([P(5, 6), P(59, 18)], fill=(206, 160, 72, 255))
    d.ellipse([P(8, 7), P(56, 16)], fill=(246, 236, 208, 255))
    return img.resize((size, size), Image.LANCZOS)


def icon_svg():
    """The same goblet drum as icon_art, as a scalable SVG on the same 64-unit grid."""
    def poly(pts, fill, outline=None):
        points = " ".join("%g,%g" % p for p in pts)
        stroke = ' stroke="#%02x%02x%02x" stroke-width="0.5"' % outline if outline else ""
        return '  <polygon points="%s" fill="#%02x%02x%02x"%s/>\n' % ((points,) + fill + (stroke,))

    def rect(x0, y0, x1, y1, fill):
        return '  <rect x="%g" y="%g" width="%g" height="%g" fill="#%02x%02x%02x"/>\n' % (
            (x0, y0, x1 - x0, y1 - y0) + fill)

    def ellipse(x0, y0, x1, y1, fill):
        return '  <ellipse cx="%g" cy="%g" rx="%g" ry="%g" fill="#%02x%02x%02x"/>\n' % (
            ((x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2, (y1 - y0) / 2) + fill)

    cream = (236, 224, 196)
    out = '<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64" viewBox="0 0 64 64">\n'
    out += poly([(8, 12), (56, 12), (50, 24), (39, 33), (36, 40), (42, 54), (44, 60),
                 (20, 60), (22, 54), (28, 40), (25, 33), (14, 24)], (128, 70, 30), (60, 32, 12))
    out += poly([(12, 14), (52, 14), (47, 23), (37, 31), (27, 31), (17, 23)], (162, 94, 40))
    for x in (20, 32, 44):
        out += poly([(x, 15), (x + 4, 21), (x, 27), (x - 4, 21)], cream)
    out += poly([(32, 43), (35, 50), (32, 57), (29, 50)], cream)
    out += rect(26, 38, 38, 41, BRASS) + rect(19, 58, 45, 61, BRASS)
    out += ellipse(5, 6, 59, 18, BRASS) + ellipse(8, 7, 56, 16, CREAM)
    return out + "</svg>\n"


def write_desktop_icons(folder):
    """The hicolor theme's icons: PNGs of icon_art at the usual sizes, and the SVG."""
    for size in (16, 32, 48, 64, 128, 256):
        apps = os.path.join(folder, "%dx%d" % (size, size), "apps")
        os.makedirs(apps, exist_ok=True)
        icon_art(size).save(os.path.join(apps, "tabladex.png"), optimize=True)
    apps = os.path.join(folder, "scalable", "apps")
    os.makedirs(apps, exist_ok=True)
    with open(os.path.join(apps, "tabladex.svg"), "w") as f:
        f.write(icon_svg())


def write_ico(path, rgba):
    """Writes a one-image ICO: 8-bit palette (256 colours) with a 1-bit transparency mask."""
    w, h = rgba.size
    alpha = rgba.getchannel("A")
    rgb = Image.new("RGB", (w, h), (24, 21, 52))
    rgb.paste(rgba.convert("RGB"), (0, 0), alpha)
    pal = rgb.quantize(colors=256, method=Image.MEDIANCUT, dither=Image.NONE)
    palette = pal.getpalette()[:768]
    palette += [0] * (768 - len(palette))
    idx = pal.tobytes()
    xor_stride = (w + 3) & ~3
    and_stride = ((w + 31) // 32) * 4
    xor, andm = bytearray(), bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(idx[y * w:(y + 1) * w])
        xor += row + bytes(xor_stride - w)
        bits = bytearray(and_stride)
        for x in range(w):
            if alpha.getpixel((x, y)) < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        andm += bits
    pal_bytes = b"".join(bytes((palette[3 * i + 2], palette[3 * i + 1], palette[3 * i], 0)) for i in range(256))
    info = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 8, 0, len(xor) + len(andm), 0, 0, 256, 0)
    body = info + pal_bytes + bytes(xor) + bytes(andm)
    head = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 8, len(body), 6 + 16)
    with open(path, "wb") as f:
        f.write(head + entry + body)


# ---- mock screen ----------------------------------------------------------------------
def mock(sprites, path):
    """Composes the window as the program would and saves two screens side by side."""
    def screen(playing):
        scr = Image.new("RGB", (600, 480), BLACK)
        scr.paste(sprites["600x480Background"], (0, 13))
        scr.paste(sprites["slider"], (439, 150))
        scr.paste(sprites["slider"], (528, 120))
        big, small, notes = sprites["lrgAlphaLetters"], sprites["smAlphaLetters"], sprites["rhythmNotes"]

        def letters(sheet, cell, text, x, y):
            for i, ch in enumerate(text):
                n = 26 if ch == " " else ord(ch) - 65
                r, c = divmod(n, 14)
                scr.paste(sheet.crop((c * cell, r * cell, c * cell + cell, r * cell + cell)), (x + i * cell, y))
        digits = sprites["numbersImage"]
        if playing:
            letters(big, 30, "MAQSUM FILLED", 7, 39)
            letters(small, 15, "NEXT BALADI", 10, 80)
            scr.paste(sprites["playlistbuttons"], (10, 200))
            scr.paste(sprites["playingLabel"], (73, 232))
            scr.paste(sprites["metronome"], (225, 80))
            tempo = "100"
            notation = ("DTkTDkTk" * 4 + "dt-td-t-" * 2 + "dd-td-t-PS-kDTKS")[:56]
            for i, sym in enumerate(notation):
                c = "dtkDTKPS-".index(sym)
                row = 0 if i == 11 else 1
                scr.paste(notes.crop((20 * c, 20 * row, 20 * c + 20, 20 * row + 20)),
                          (10 + 20 * (i % 28), 290 + 20 * (i // 28)))
        else:
            letters(big, 30, "SAMAI THAQIL", 7, 39)
            scr.paste(sprites["stoppedLabel"], (73, 232))
            scr.paste(sprites["kvbanner"], (65, 330))
            tempo = "150"
        for i, ch in enumerate(tempo):
            dg = int(ch)
            scr.paste(digits.crop((15 * dg, 0, 15 * dg + 15, 15)), (250 + 15 * i, 235))
        # the menu bar hides the last rows of the client area (27 with the tallest themes)
        ImageDraw.Draw(scr).rectangle([0, VISIBLE_ROWS, 599, 479], fill=(220, 220, 220))
        return scr
    both = Image.new("RGB", (1210, 480), (255, 255, 255))
    both.paste(screen(True), (0, 0))
    both.paste(screen(False), (610, 0))
    both.save(path)


def build():
    return {
        "600x480Background": background(),
        "slider": slider_knob(),
        "metronome": metronome_art(True),
        "numbersImage": digits_sheet(),
        "lrgAlphaLetters": letters_sheet(30, 29, (255, 246, 220), (236, 184, 84)),
        "smAlphaLetters": letters_sheet(15, 14, (255, 248, 228), (236, 196, 110)),
        "rhythmNotes": notes_sheet(),
        "kvbanner": banner("OPEN A RHYTHM FROM THE FILE MENU"),
        "hiddenNotesBanner": banner("NOTES HIDDEN: VIEW > SHOW NOTES"),
        "pausedLabel": state_label("PAUSED", AMBER),
        "playingLabel": state_label("PLAYING", (140, 232, 120)),
        "stoppedLabel": state_label("STOPPED", (255, 110, 100)),
        "playlistbuttons": playlist_buttons(),
    }


def main(argv):
    os.makedirs(IMAGES, exist_ok=True)
    os.makedirs(ICONS, exist_ok=True)
    sprites = build()
    for name, img in sprites.items():
        write_bmp(os.path.join(IMAGES, name + ".bmp"), img)
        print("%-34s %d x %d" % ("images/" + name + ".bmp", *img.size))
    write_ico(os.path.join(ICONS, "tabladex.ico"), icon_art(64))
    write_ico(os.path.join(ICONS, "tabladex_small.ico"), icon_art(16))
    print("app/res/tabladex.ico, app/res/tabladex_small.ico")
    write_desktop_icons(DESKTOP_ICONS)
    print("packaging/icons/hicolor/*/apps/tabladex.{png,svg}")
    if "--mock" in argv:
        path = argv[argv.index("--mock") + 1]
        mock(sprites, path)
        print("mock screen:", path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
