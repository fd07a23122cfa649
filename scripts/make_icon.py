#!/usr/bin/env python3
"""Writes the patcher's icon (resource 101): a 32x32 and a 16x16 image, 32-bit BGRA,
a white "V" on a dark blue rounded square. Deterministic, standard library only."""
import struct
import sys


def image(size):
    rows = []
    r = size * 0.22
    for y in range(size):  # top-down here, reversed below (ICO bitmaps are bottom-up)
        row = bytearray()
        for x in range(size):
            # Rounded square.
            cx = min(max(x + 0.5, r), size - r)
            cy = min(max(y + 0.5, r), size - r)
            inside = (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r
            b, g, red, a = (0, 0, 0, 0)
            if inside:
                b, g, red, a = (120, 60, 20, 255)
                # The "V": two strokes meeting at the bottom centre.
                u = (x + 0.5) / size
                v = (y + 0.5) / size
                if 0.18 < v < 0.82:
                    t = (v - 0.18) / 0.64
                    left = 0.2 + 0.3 * t
                    right = 0.8 - 0.3 * t
                    w = 0.09
                    if abs(u - left) < w or abs(u - right) < w:
                        b, g, red = (255, 255, 255)
            row += bytes((b, g, red, a))
        rows.append(bytes(row))
    pixels = b"".join(reversed(rows))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytes(mask_stride * size)  # alpha carries the shape
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + mask


def main(out):
    sizes = [32, 16]
    images = [image(s) for s in sizes]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip(sizes, images):
        data += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    data += b"".join(images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
