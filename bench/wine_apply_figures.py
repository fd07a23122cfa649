#!/usr/bin/env python3
"""Applying a 100 MB-class update with the patcher's code under Wine beside a plain copy of
the new file under Wine, both in one process (wine_apply_bench), for both diff forms.

usage: wine_apply_figures.py MKPATCH WINE_APPLY_BENCH [WORKDIR]   (default build/bench-wine)
MKPATCH is the native mkpatch, WINE_APPLY_BENCH the win64 build of bench/wine_apply_bench.cpp
(cmake --build --preset win64 --target wine_apply_bench). The old file is executable-like
(code-like runs, tables, text, random stretches), the new one has the changes a rebuild
makes: scattered small changes, inserted and removed stretches.
"""
import os
import random
import subprocess
import sys

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SIZE = 100 << 20


def workload():
    rng = random.Random(42)
    parts = []
    total = 0
    while total < SIZE:
        kind = rng.randrange(4)
        n = 256 + rng.randrange(4096)
        if kind == 0:
            chunk = rng.randbytes(n)
        elif kind == 1:
            chunk = (b"\x48\x8b\x45\xf8\x89\xc7\xe8" * (n // 7 + 1))[:n]
        elif kind == 2:
            chunk = bytes((i * 13) & 0xFF for i in range(n))
        else:
            chunk = (b"resource string table " * (n // 22 + 1))[:n]
        parts.append(chunk)
        total += n
    old = bytearray(b"".join(parts)[:SIZE])
    new = bytearray(old)
    at = 100
    while at + 4 < len(new):
        new[at:at + 2] = rng.randbytes(2)
        at += 2000 + rng.randrange(6000)
    for k in range(200):
        at = rng.randrange(len(new) - 10000)
        if k % 2:
            new[at:at] = rng.randbytes(100 + rng.randrange(3000))
        else:
            del new[at:at + 100 + rng.randrange(3000)]
    return bytes(old), bytes(new)


def main():
    mkpatch, bench = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    work = os.path.abspath(sys.argv[3] if len(sys.argv) > 3 else "build/bench-wine")
    os.makedirs(work, exist_ok=True)
    old_path, new_path = os.path.join(work, "old.bin"), os.path.join(work, "new.bin")
    if not os.path.exists(new_path):
        old, new = workload()
        with open(old_path, "wb") as f:
            f.write(old)
        with open(new_path, "wb") as f:
            f.write(new)
    prefix = os.path.join(work, "wineprefix")
    for form in (2, 1):
        diff = os.path.join(work, "diff%d.bin" % form)
        if not os.path.exists(diff):
            subprocess.run([mkpatch, "diff", "--diff-format", str(form), old_path, new_path, diff],
                           check=True)
        applied = diff
        if form == 1:  # the patcher inflates the payload first; time the diff itself
            applied = os.path.join(work, "diff1.raw")
            if not os.path.exists(applied):
                import zlib
                with open(diff, "rb") as f:
                    data = f.read()
                with open(applied, "wb") as f:
                    f.write(zlib.decompress(data) if data[:1] == b"\x78" else data)
        out = os.path.join(work, "out.bin")
        if os.path.exists(out):
            os.remove(out)
        r = subprocess.run([os.path.join(REPO, "scripts", "wine-run"), prefix, bench,
                            "Z:" + old_path, "Z:" + applied, str(form), "Z:" + new_path,
                            "Z:" + out, "3"], check=True, capture_output=True, text=True)
        print("wine:", r.stdout.strip())


if __name__ == "__main__":
    main()
