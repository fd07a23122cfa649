#!/usr/bin/env python3
"""Applying a diff natively with `mkpatch apply` (the patcher's reader, decoders and writer)
beside `cp` + `sync` of the new file, bspatch and xdelta3 -d, in the same run, for both diff
forms, on a 100 MB-class generated update (bench/wine_apply_figures.py's workload) and on
the real pairs of bench/delta_figures.py that are already in its work folder; with --wine,
also the patcher's own apply under Wine beside a copy of the new file under Wine, in one
Windows process (bench/wine_apply_bench.cpp), on the generated update and the real pairs.

usage: apply_figures.py MKPATCH [WORKDIR] [--wine WINE_APPLY_BENCH]
    (WORKDIR default build/bench-apply; WINE_APPLY_BENCH is the win64 build of
    bench/wine_apply_bench.cpp: cmake --build --preset win64 --target wine_apply_bench)
Each native figure is the best of five runs, wall-clock including a final sync of the
output file (`sync FILE`: not of everything others have written meanwhile), and the
processor seconds (user and system) of the same runs beside it: on a busy machine those
are the fairer comparison. Each Wine figure is the best of three rounds.
"""
import os
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "bench"))
import wine_apply_figures  # noqa: E402  (the workload)

ARGS = sys.argv[1:]
WINE_BENCH = None
if "--wine" in ARGS:
    at = ARGS.index("--wine")
    WINE_BENCH = os.path.abspath(ARGS[at + 1])
    del ARGS[at:at + 2]
MKPATCH = os.path.abspath(ARGS[0])
WORK = os.path.abspath(ARGS[1] if len(ARGS) > 1 else "build/bench-apply")
DELTA = os.path.join(REPO, "build", "bench-delta")


def best(cmd, out, rounds=5):
    """Best wall-clock seconds (with the final sync) and best processor seconds."""
    times, cpu = [], []
    for _ in range(rounds):
        if os.path.exists(out):
            os.remove(out)
        subprocess.run(["sync"], check=True)
        before = os.times()
        start = time.monotonic()
        subprocess.run(cmd, check=True, capture_output=True)
        # Only the output is synced: a sync of everything would also wait for whatever
        # else the machine's other work has written.
        subprocess.run(["sync", out], check=True)
        times.append(time.monotonic() - start)
        after = os.times()
        cpu.append(after.children_user - before.children_user +
                   after.children_system - before.children_system)
    return min(times), min(cpu)


def wine(d, old, new, diff):
    """The patcher's apply under Wine beside a copy under Wine of the new file."""
    out = os.path.join(d, "wine-out")
    r = subprocess.run([os.path.join(REPO, "scripts", "wine-run"), os.path.join(WORK, "wineprefix"),
                        WINE_BENCH, "Z:" + old, "Z:" + diff, "2", "Z:" + new, "Z:" + out, "3"],
                       check=True, capture_output=True, text=True)
    print("under Wine, form 2: %s" % r.stdout.strip())


def measure(title, old, new):
    d = os.path.join(WORK, title.split()[0])
    os.makedirs(d, exist_ok=True)
    out = os.path.join(d, "out")
    copy, copy_cpu = best(["cp", new, out], out)
    print("\n%s (new %d bytes): cp + sync %.3f s, %.3f processor s" % (title, os.path.getsize(new), copy, copy_cpu))
    print("| applier | diff bytes | apply + sync s | vs cp + sync | processor s | vs cp |")
    print("|---|---:|---:|---:|---:|---:|")
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
    for name, size, (t, cpu) in rows:
        print("| %s | %d | %.3f | %.2fx | %.3f | %.2fx |" % (name, size, t, t / copy, cpu, cpu / copy_cpu))
    if WINE_BENCH:
        wine(d, old, new, os.path.join(d, "mkpatch-2.diff"))


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
