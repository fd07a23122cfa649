"""Screenshots that vardplay took (24-bit BMP files of the whole screen): pixels for the
scenario checks, and a PNG copy for a human looking at a failed case.

    python3 screenshots.py SHOT.bmp OUT.png
"""
import struct
import sys
import zlib


class Shot:
    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read()
        if data[:2] != b"BM":
            raise ValueError(path + " is not a BMP file")
        offset = struct.unpack_from("<I", data, 10)[0]
        self.width, height = struct.unpack_from("<ii", data, 18)
        bits = struct.unpack_from("<H", data, 28)[0]
        if bits != 24:
            raise ValueError(path + ": only 24-bit BMP files are read")
        self.height = abs(height)
        stride = (self.width * 3 + 3) & ~3
        rows = [data[offset + y * stride: offset + y * stride + self.width * 3]
                for y in range(self.height)]
        self.rows = rows[::-1] if height > 0 else rows  # top row first

    def pixel(self, x, y):
        """(red, green, blue) at x, y from the top-left corner of the screen."""
        row = self.rows[y]
        b, g, r = row[3 * x: 3 * x + 3]
        return r, g, b

    def save_png(self, path):
        raw = b"".join(b"\0" + bytes(v for i in range(0, len(row), 3)
                                     for v in (row[i + 2], row[i + 1], row[i]))
                       for row in self.rows)

        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body +
                    struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n")
            f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)))
            f.write(chunk(b"IDAT", zlib.compress(raw, 6)))
            f.write(chunk(b"IEND", b""))


if __name__ == "__main__":
    Shot(sys.argv[1]).save_png(sys.argv[2])
