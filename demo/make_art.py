#!/usr/bin/env python3
"""Draws the demo game's own patcher art, a forest-green and copper "KORAX" skin, as the
four PNG files its project names: splash.png (RGBA), window.png (RGBA), item_bar.png and
total_bar.png (RGB). Same layout rules as the patcher's own skin (scripts/make_skins.py,
whose drawing helpers it uses): the text areas and the two bar troughs are fully opaque.
Deterministic. usage: make_art.py OUTPUT_DIR"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import make_skins as skins  # noqa: E402

PINE = (18, 46, 34)
MOSS = (44, 86, 58)
BARK = (26, 22, 18)
COPPER = (214, 128, 70)
PALE = (236, 226, 200)


def fill(top, bottom):
    def colour(x, y):
        base = skins.mix(MOSS, PINE, (y - top) / max(bottom - top, 1))
        if (x // 4 + y // 4) % 2 == 0:  # a faint woven texture
            base = skins.mix(base, (0, 0, 0), 0.06)
        return base
    return colour


def splash():
    c = skins.Canvas(519, 126)
    skins.panel(c, 10, 6, 509, 116, 30, 8, fill(6, 116))
    skins.word(c, "KORAX", 7, 259, 18, PALE, COPPER, glow=(0, 0, 0))
    skins.word(c, "DEMO PATCH", 2, 259, 90, PALE, (170, 190, 160))
    return c


def window():
    c = skins.Canvas(519, 316)
    skins.panel(c, 8, 8, 511, 306, 24, 6, fill(8, 306))
    skins.word(c, "KORAX", 5, 259, 30, PALE, COPPER, glow=(0, 0, 0))
    skins.word(c, "DEMO", 2, 259, 78, PALE, (170, 190, 160))
    skins.fill_rect(c, 20, 108, 499, 132, lambda x, y: skins.mix(BARK, PINE, (y - 108) / 24.0))
    skins.inset(c, 28, 160, 491, 194, BARK)
    for top in (196, 221):
        skins.fill_rect(c, 27, top - 1, 492, top + 18, lambda x, y: COPPER)
        skins.fill_rect(c, 28, top, 491, top + 17, lambda x, y: BARK)
    skins.inset(c, 384, 240, 500, 270, BARK)
    return c


def main(out_dir):
    os.makedirs(out_dir, exist_ok=True)
    s = splash()
    skins.write_png(os.path.join(out_dir, "splash.png"), s.w, s.h, s.rows(True), True)
    w = window()
    skins.write_png(os.path.join(out_dir, "window.png"), w.w, w.h, w.rows(True), True)
    for name, colours in (("item_bar.png", ((190, 240, 170), (90, 180, 90), (30, 100, 40))),
                          ("total_bar.png", ((255, 210, 160), COPPER, (120, 60, 20)))):
        width, height, rows = skins.bar(*colours)
        skins.write_png(os.path.join(out_dir, name), width, height, rows, False)


if __name__ == "__main__":
    main(sys.argv[1])
