#!/usr/bin/env python3
"""Draws the four skin images of the patcher's windows and writes them as PNG files:
  102 splash (519x126 RGBA), 103 progress window background (519x316 RGBA),
  104 item bar and 105 total bar (463x17 RGB).
Deterministic and standard library only (zlib + struct write the PNG chunks), so the
build can regenerate them byte for byte. Usage: make_skins.py OUTPUT_DIR
The background leaves dark areas exactly where the window draws its white texts, and
keeps the two bar troughs at (28,196) and (28,221), 463x17, fully opaque."""
import math
import os
import struct
import sys
import zlib

# --- PNG writing -----------------------------------------------------------------------

def chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data +
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def icc_profile():
    """A small, well-formed RGB display profile (header, white point and description)."""
    tags = []
    wtpt = b"XYZ " + bytes(4) + struct.pack(">iii", 63190, 65536, 54061)  # D50
    desc_text = b"Vard skin RGB\0"
    desc = (b"desc" + bytes(4) + struct.pack(">I", len(desc_text)) + desc_text +
            bytes(4 + 4 + 2 + 1 + 67))
    tags = [(b"wtpt", wtpt), (b"desc", desc)]
    table_len = 4 + 12 * len(tags)
    offset = 128 + table_len
    table = struct.pack(">I", len(tags))
    body = b""
    for sig, data in tags:
        while (offset + len(body)) % 4:
            body += b"\0"
        table += sig + struct.pack(">II", offset + len(body), len(data))
        body += data
    size = 128 + table_len + len(body)
    header = (struct.pack(">I", size) + b"none" + struct.pack(">I", 0x02100000) +
              b"mntr" + b"RGB " + b"XYZ " + bytes(12) + b"acsp" + b"APPL" +
              bytes(4) + bytes(4) + bytes(4) + bytes(8) + struct.pack(">I", 0) +
              struct.pack(">iii", 63190, 65536, 54061) + b"none" + bytes(16) + bytes(28))
    assert len(header) == 128
    return header + table + body


def write_png(path, width, height, rows, alpha, with_iccp=False):
    """rows: list of top-down rows, each a bytes object of RGB or RGBA samples."""
    colour_type = 6 if alpha else 2
    out = b"\x89PNG\r\n\x1a\n"
    out += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
    out += chunk(b"gAMA", struct.pack(">I", 45455))
    out += chunk(b"cHRM", struct.pack(">8I", 31270, 32900, 64000, 33000,
                                      30000, 60000, 15000, 6000))
    if with_iccp:
        out += chunk(b"iCCP", b"Vard skin RGB\0\0" + zlib.compress(icc_profile(), 9))
    out += chunk(b"pHYs", struct.pack(">IIB", 2835, 2835, 1))
    raw = b"".join(b"\0" + r for r in rows)
    out += chunk(b"IDAT", zlib.compress(raw, 9))
    out += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(out)

# --- drawing helpers -------------------------------------------------------------------

def mix(a, b, t):
    t = 0.0 if t < 0 else 1.0 if t > 1 else t
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def rounded_rect_distance(x, y, x0, y0, x1, y1, r):
    """Signed distance from the pixel centre to a rounded rectangle (negative inside)."""
    px, py = x + 0.5, y + 0.5
    cx = min(max(px, x0 + r), x1 - r)
    cy = min(max(py, y0 + r), y1 - r)
    dx, dy = px - cx, py - cy
    if x0 + r <= px <= x1 - r or y0 + r <= py <= y1 - r:
        # Straight edges: distance to the nearest side.
        return max(x0 - px, px - x1, y0 - py, py - y1)
    return math.hypot(dx, dy) - r


# A 5x7 pixel font for the word marks.
GLYPHS = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "C": ["01111", "10000", "10000", "10000", "10000", "10000", "01111"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "G": ["01111", "10000", "10000", "10111", "10001", "10001", "01111"],
    "H": ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "V": ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "X": ["10001", "10001", "01010", "00100", "01010", "10001", "10001"],
    " ": ["00000"] * 7,
}


def word_mask(text, scale, spacing=1):
    """Set of (x, y) pixels of text in the pixel font, origin top-left."""
    pts = set()
    cursor = 0
    for ch in text:
        g = GLYPHS[ch]
        for gy, line in enumerate(g):
            for gx, bit in enumerate(line):
                if bit == "1":
                    for sy in range(scale):
                        for sx in range(scale):
                            pts.add((cursor + gx * scale + sx, gy * scale + sy))
        cursor += (5 + spacing) * scale
    width = cursor - spacing * scale
    return pts, width, 7 * scale


def place(mask_info, left, top):
    pts, _, _ = mask_info
    return {(x + left, y + top) for x, y in pts}


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.rgb = [[(255.0, 255.0, 255.0)] * w for _ in range(h)]
        self.a = [[0.0] * w for _ in range(h)]

    def rows(self, alpha):
        out = []
        for y in range(self.h):
            row = bytearray()
            for x in range(self.w):
                a = int(round(self.a[y][x]))
                r, g, b = (int(round(min(max(c, 0), 255))) for c in self.rgb[y][x])
                if alpha and a == 0:
                    r = g = b = 255  # fully transparent pixels are white
                row += bytes((r, g, b, a)) if alpha else bytes((r, g, b))
            out.append(bytes(row))
        return out


def panel(c, x0, y0, x1, y1, radius, shadow, fill):
    """Rounded panel with an anti-aliased rim and a soft drop shadow in the alpha channel.
    fill(x, y) gives the panel colour of an inside pixel."""
    for y in range(c.h):
        for x in range(c.w):
            d = rounded_rect_distance(x, y, x0, y0, x1, y1, radius)
            ds = rounded_rect_distance(x, y - 2, x0, y0, x1, y1, radius)
            sh = 0.0
            if ds < shadow:
                t = 1 - max(ds, 0) / shadow
                sh = 0.55 * t * t
            if d <= -0.5:
                c.rgb[y][x] = fill(x, y)
                c.a[y][x] = 255.0
            elif d < 0.5:
                cover = 0.5 - d
                a = cover + sh * (1 - cover)
                col = fill(x, y)
                c.rgb[y][x] = tuple(v * cover / a for v in col) if a > 0 else (0, 0, 0)
                c.a[y][x] = 255.0 * a
            else:
                c.rgb[y][x] = (0.0, 0.0, 0.0)
                c.a[y][x] = 255.0 * sh


def fill_rect(c, x0, y0, x1, y1, colour_fn):
    for y in range(max(y0, 0), min(y1, c.h)):
        for x in range(max(x0, 0), min(x1, c.w)):
            c.rgb[y][x] = colour_fn(x, y)


def inset(c, x0, y0, x1, y1, base):
    """A recessed dark area: darker top edge, lighter bottom edge."""
    fill_rect(c, x0, y0, x1, y1, lambda x, y: mix(base, mix(base, (0, 0, 0), 0.3),
                                                  (y1 - y) / max(y1 - y0, 1)))
    for x in range(x0, x1):
        c.rgb[y0][x] = mix(base, (0, 0, 0), 0.6)
        c.rgb[y1 - 1][x] = mix(base, (110, 130, 160), 0.35)
    for y in range(y0, y1):
        c.rgb[y][x0] = mix(base, (0, 0, 0), 0.5)
        c.rgb[y][x1 - 1] = mix(base, (110, 130, 160), 0.25)


def word(c, text, scale, cx, top, top_colour, bottom_colour, glow=None):
    info = word_mask(text, scale)
    left = cx - info[1] // 2
    pts = place(info, left, top)
    if glow:
        for (x, y) in pts:
            for dx, dy in ((1, 1), (2, 2)):
                if (x + dx, y + dy) not in pts and 0 <= x + dx < c.w and 0 <= y + dy < c.h:
                    c.rgb[y + dy][x + dx] = mix(c.rgb[y + dy][x + dx], glow, 0.6)
    for (x, y) in pts:
        c.rgb[y][x] = mix(top_colour, bottom_colour, (y - top) / info[2])
    return left, info[1]

# --- the images ------------------------------------------------------------------------

NAVY = (16, 24, 40)
DEEP = (8, 12, 22)
STEEL = (34, 44, 62)
GOLD = (232, 176, 72)
CYAN = (80, 200, 230)


def header_fill(x, y, top, bottom, w):
    base = mix((40, 62, 96), NAVY, (y - top) / (bottom - top))
    # A soft diagonal light streak and a faint scan-line texture.
    streak = math.exp(-(((x - 1.6 * (y - top)) - w * 0.62) / 70.0) ** 2)
    base = mix(base, (90, 130, 180), 0.35 * streak)
    if y % 3 == 0:
        base = mix(base, (0, 0, 0), 0.08)
    return base


def splash():
    w, h = 519, 126
    c = Canvas(w, h)
    panel(c, 6, 4, 513, 118, 18, 7, lambda x, y: header_fill(x, y, 4, 118, w))
    word(c, "VARD", 7, w // 2, 20, (255, 236, 190), GOLD, glow=(0, 0, 0))
    for x in range(60, w - 60):
        t = 1 - abs(x - w / 2) / (w / 2 - 60)
        c.rgb[77][x] = mix(c.rgb[77][x], GOLD, 0.9 * t)
        c.rgb[78][x] = mix(c.rgb[78][x], (120, 80, 20), 0.6 * t)
    word(c, "GAME PATCH", 2, w // 2, 88, (220, 232, 250), (150, 175, 210))
    return c


def background():
    w, h = 519, 316
    c = Canvas(w, h)

    def fill(x, y):
        if y < 106:
            return header_fill(x, y, 6, 106, w)
        return mix(STEEL, (22, 28, 40), (y - 106) / 200.0)

    panel(c, 6, 6, 513, 308, 16, 6, fill)
    word(c, "VARD", 6, w // 2, 24, (255, 236, 190), GOLD, glow=(0, 0, 0))
    word(c, "GAME PATCH", 2, w // 2, 78, (220, 232, 250), (150, 175, 210))
    # Title band: the centred title's box ends on row 125.
    fill_rect(c, 7, 106, 512, 134, lambda x, y: mix(DEEP, NAVY, (y - 106) / 28.0))
    for x in range(7, 512):
        t = 1 - abs(x - w / 2) / (w / 2)
        c.rgb[106][x] = mix(c.rgb[106][x], GOLD, 0.85 * t)
        c.rgb[133][x] = mix(c.rgb[133][x], GOLD, 0.5 * t)
    # Status (row 179) and detail (row 192) lines share one recessed panel.
    inset(c, 28, 160, 491, 194, (12, 16, 26))
    # Bar troughs, fully opaque; a thin frame around each.
    for top in (196, 221):
        fill_rect(c, 27, top - 1, 492, top + 18, lambda x, y: (4, 6, 10))
        fill_rect(c, 28, top, 491, top + 17,
                  lambda x, y, top=top: mix((14, 18, 28), (26, 32, 46), (y - top) / 17.0))
    # Percentage (right-aligned at 500, box bottom on row 265, 20 rows high).
    inset(c, 392, 243, 500, 270, (12, 16, 26))
    # Footer rule and rivets.
    for x in range(28, 380):
        c.rgb[256][x] = mix(c.rgb[256][x], (70, 86, 112), 0.8)
    for rx in (20, 498):
        for ry in (120, 290):
            for y in range(ry - 2, ry + 3):
                for x in range(rx - 2, rx + 3):
                    if (x - rx) ** 2 + (y - ry) ** 2 <= 4:
                        c.rgb[y][x] = mix((130, 150, 180), (40, 50, 70), (y - ry + 2) / 4)
    return c


def bar(light, mid, dark):
    w, h = 463, 17
    rows = []
    for y in range(h):
        row = bytearray()
        # Glassy vertical profile: bright upper half, deeper lower half.
        t = y / (h - 1)
        base = mix(light, mid, t / 0.5) if t < 0.5 else mix(mid, dark, (t - 0.5) / 0.5)
        for x in range(w):
            col = base
            if ((x + y) // 6) % 2 == 0:  # subtle diagonal stripes
                col = mix(col, (255, 255, 255), 0.08)
            col = mix(col, (255, 255, 255), 0.25 * math.exp(-((x - w + 6) / 6.0) ** 2))
            if y in (0, h - 1):
                col = mix(col, (0, 0, 0), 0.35)
            row += bytes(int(round(min(max(v, 0), 255))) for v in col)
        rows.append(bytes(row))
    return w, h, rows


def main(out_dir):
    os.makedirs(out_dir, exist_ok=True)
    s = splash()
    write_png(os.path.join(out_dir, "skin102.png"), s.w, s.h, s.rows(True), True, with_iccp=True)
    b = background()
    write_png(os.path.join(out_dir, "skin103.png"), b.w, b.h, b.rows(True), True)
    w, h, rows = bar((150, 235, 255), (40, 160, 215), (10, 80, 140))
    write_png(os.path.join(out_dir, "skin104.png"), w, h, rows, False)
    w, h, rows = bar((255, 225, 140), (235, 150, 40), (150, 70, 10))
    write_png(os.path.join(out_dir, "skin105.png"), w, h, rows, False)


if __name__ == "__main__":
    main(sys.argv[1])
