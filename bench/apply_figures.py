#!/usr/bin/env python3
"""Applying a diff natively with `mkpatch apply` (the patcher's reader, decoders and writer)
beside `cp` + `sync` of the new file, bspatch and xdelta3 -d, in the same run, for both diff
forms, on a 100 MB-class generated update (bench/wine_apply_figures.py's workload) and on
the real pairs of bench/delta_figures.py that are already in its work folder.

usage: apply_figures.py MKPATCH [WORKDIR]    (WORKDIR default build/bench-apply)
Each figure is the best of three runs, wall-clock, including a final sync of the output.
"""
import os
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "bench"))
import wine_apply_figures  # noqa: E402  (the workload)

MKPATCH = os.path.abspath(sys.argv[1])
WORK = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "build/bench-apply")
DELTA = os.path.join(REPO, "build", "bench-delta")


def best(cmd, out, rounds=3):
    times = []
    for _ in range(rounds):
        if os.path.exists(out):
            os.remove(out)
        subprocess.run(["sync"], check=True)
        start = time.monotonic()
        subprocess.run(cmd, check=True, capture_output=True)
        subprocess.run(["sync"], check=True)
        times.append(time.monotonic() - start)
    return min(times)


def measure(title, old, new):
    d = os.path.join(WORK, title.split()[0])
    os.makedirs(d, exist_ok=True)
    out = os.path.join(d, "out")
    copy = best(["cp", new, out], out)
    print("\n%s (new %d bytes): cp + sync %.3f s" % (title, os.path.getsize(new), copy))
    print("| applier | diff bytes | apply + sync s | vs cp + sync |")
    print("|---|---:|---:|---:|")
    rows = []
    for form in (2, 1):
        diff = os.path.join(d, "mkpatch-%d.diff" % form)
        if not os.path.exists(diff):
            subprocess.run([MKPATCH, "diff", "--diff-format", str(form), old, new, diff],
                           check=True, capture_output=True)
        t = best([MKPATCH, "apply", old, diff, out], out)
        assert open(out, "rb").read() == open(new, "rb").read(), "mkpatch apply went wrong"
        rows.append(("mkpatch apply, form %d" % form, os.path.getsize(diff), t))
    patch = os.path.join(d, "bsdiff.patch")
    if not os.path.exists(patch):
        subprocess.run(["bsdiff", old, new, patch], check=True)
    rows.append(("bspatch", os.path.getsize(patch), best(["bspatch", old, out, patch], out)))
    vcdiff = os.path.join(d, "xdelta3.vcdiff")
    if not os.path.exists(vcdiff):
        subprocess.run(["xdelta3", "-9", "-f", "-e", "-s", old, new, vcdiff], check=True)
    rows.append(("xdelta3 -d", os.path.getsize(vcdiff),
                 best(["xdelta3", "-f", "-d", "-s", old, vcdiff, out], out)))
    for name, size, t in rows:
        print("| %s | %d | %.3f | %.2fx |" % (name, size, t, t / copy))


def main():
    os.makedirs(WORK, exist_ok=True)
    old, new = os.path.join(WORK, "old.bin"), os.path.join(WORK, "new.bin")
    if not os.path.exists(new):
        a, b = wine_apply_figures.workload()
        with open(old, "wb") as f:
            f.write(a)
        with open(new, "wb") as f:
            f.write(b)
    measure("generated 100 MB update", old, new)
    for title, pair in (("esbuild.exe 0.19.11 -> 0.19.12",
                         ("esbuild-win32-x64-0.19.11.exe", "esbuild-win32-x64-0.19.12.exe")),
                        ("libcrypto.so.3 3.0.17 -> 3.0.20",
                         ("libcrypto-3.0.17-1_deb12u2.so.3", "libcrypto-3.0.20-1_deb12u2.so.3"))):
        paths = [os.path.join(DELTA, p) for p in pair]
        if all(os.path.exists(p) for p in paths):
            measure(title, *paths)
        else:
            print("\n%s: not in %s (run bench/delta_figures.py first)" % (title, DELTA))


if __name__ == "__main__":
    main()
