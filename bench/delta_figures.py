#!/usr/bin/env python3
"""Patch sizes and build times of `mkpatch diff` beside bsdiff, xdelta3 -9 and
zstd -19 --long=27 --patch-from, on two real pairs fetched from the package registries:

  esbuild.exe      npm @esbuild/win32-x64 0.19.11 -> 0.19.12 (npm pack)
  libcrypto.so.3   Debian libssl3 3.0.17-1~deb12u2 -> 3.0.20-1~deb12u2 (apt-get download;
                   when a version is no longer served, the nearest available ones are used
                   and the table says so)

usage: delta_figures.py MKPATCH [WORKDIR]     (WORKDIR default build/bench-delta)
mkpatch's size is its payload as a patch carries it: the diff compressed by libdeflate at
level 12 (zlib format); the others' outputs are their own compressed formats. Times are
wall-clock seconds of the whole command, encoder only, in this same run.
"""
import os
import re
import shutil
import subprocess
import sys
import tarfile
import time

MKPATCH = os.path.abspath(sys.argv[1])
WORK = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "build/bench-delta")
notes = []


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, capture_output=True, text=True, **kw)


def fetch_esbuild(version):
    out = os.path.join(WORK, "esbuild-%s.exe" % version)
    if not os.path.exists(out):
        tgz = run(["npm", "pack", "--silent", "@esbuild/win32-x64@%s" % version], cwd=WORK).stdout.strip().splitlines()[-1]
        with tarfile.open(os.path.join(WORK, tgz)) as t:
            member = t.extractfile("package/esbuild.exe")
            with open(out, "wb") as f:
                f.write(member.read())
    return out


def libssl_versions():
    text = run(["apt-cache", "madison", "libssl3"]).stdout
    return [line.split("|")[1].strip() for line in text.splitlines() if "|" in line]


def fetch_libcrypto(version):
    out = os.path.join(WORK, "libcrypto-%s.so.3" % version.replace("~", "_"))
    if not os.path.exists(out):
        subprocess.run(["apt-get", "download", "libssl3=%s" % version], cwd=WORK, check=True,
                       capture_output=True)
        plain = version.split(":")[-1]
        deb = [f for f in os.listdir(WORK) if f.startswith("libssl3_%s_" % plain) and f.endswith(".deb")][0]
        root = os.path.join(WORK, "x-" + version)
        run(["dpkg-deb", "-x", os.path.join(WORK, deb), root])
        shutil.copyfile(os.path.join(root, "usr/lib/x86_64-linux-gnu/libcrypto.so.3"), out)
        shutil.rmtree(root)
    return out


def libcrypto_pair():
    wanted = ["3.0.17-1~deb12u2", "3.0.20-1~deb12u2"]
    got = []
    for v in wanted:
        try:
            got.append((v, fetch_libcrypto(v)))
        except subprocess.CalledProcessError:
            got.append((v, None))
    if all(p for _, p in got):
        return [p for _, p in got], "%s -> %s" % tuple(wanted)
    available = libssl_versions()
    notes.append("libssl3 %s not available from the registry; available: %s"
                 % (", ".join(v for v, p in got if not p), ", ".join(available)))
    old_v = wanted[0] if got[0][1] else sorted(available)[0]
    new_v = wanted[1] if got[1][1] else sorted(available)[-1]
    if old_v == new_v and len(available) > 1:
        old_v = sorted(available)[0]
    notes.append("libcrypto pair used instead: %s -> %s" % (old_v, new_v))
    return [fetch_libcrypto(old_v), fetch_libcrypto(new_v)], "%s -> %s" % (old_v, new_v)


def timed(cmd):
    """Wall-clock seconds and standard output of one run."""
    start = time.monotonic()
    r = subprocess.run(cmd, check=True, capture_output=True, text=True)
    return time.monotonic() - start, r.stdout


def measure(old, new, tag):
    rows = []
    d = os.path.join(WORK, tag)
    os.makedirs(d, exist_ok=True)
    raw = os.path.join(d, "mkpatch.diff")
    t, out = timed([MKPATCH, "diff", old, new, raw])
    size = int(re.search(r"\((\d+) compressed\)", out).group(1))
    check = os.path.join(d, "mkpatch.check")
    run([MKPATCH, "apply", old, raw, check])
    assert open(check, "rb").read() == open(new, "rb").read(), "mkpatch round trip failed"
    rows.append(("mkpatch (libdeflate 12)", size, t))
    p = os.path.join(d, "bsdiff.patch")
    t, _ = timed(["bsdiff", old, new, p])
    rows.append(("bsdiff", os.path.getsize(p), t))
    p = os.path.join(d, "xdelta3.vcdiff")
    t, _ = timed(["xdelta3", "-9", "-f", "-e", "-s", old, new, p])
    rows.append(("xdelta3 -9", os.path.getsize(p), t))
    p = os.path.join(d, "zstd.patch")
    t, _ = timed(["zstd", "-q", "-f", "-19", "--long=27", "--patch-from=" + old, new, "-o", p])
    rows.append(("zstd -19 --long=27 --patch-from", os.path.getsize(p), t))
    return rows


def main():
    os.makedirs(WORK, exist_ok=True)
    pairs = []
    pairs.append(("esbuild.exe 0.19.11 -> 0.19.12",
                  [fetch_esbuild("0.19.11"), fetch_esbuild("0.19.12")]))
    files, label = libcrypto_pair()
    pairs.append(("libcrypto.so.3 " + label, files))
    verdicts = []
    for title, (old, new) in pairs:
        rows = measure(old, new, title.split()[0])
        print("\n%s (old %d bytes, new %d bytes)" % (title, os.path.getsize(old), os.path.getsize(new)))
        print("| tool | patch bytes | vs mkpatch | seconds |")
        print("|---|---:|---:|---:|")
        mk = rows[0][1]
        for name, size, t in rows:
            print("| %s | %d | %.2fx | %.2f |" % (name, size, size / mk, t))
        sizes = {name: (size, t) for name, size, t in rows}
        xd, zs, bs = sizes["xdelta3 -9"], sizes["zstd -19 --long=27 --patch-from"], sizes["bsdiff"]
        verdicts.append("%s: smaller than xdelta3 -9: %s; at most 1.2x zstd: %s (%.2fx); faster than bsdiff: %s"
                        % (title.split()[0], "yes" if mk < xd[0] else "NO", "yes" if mk <= 1.2 * zs[0] else "NO",
                           mk / zs[0], "yes" if rows[0][2] < bs[1] else "NO"))
    print()
    for v in verdicts:
        print(v)
    for n in notes:
        print("note:", n)


if __name__ == "__main__":
    main()
