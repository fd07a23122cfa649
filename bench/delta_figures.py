#!/usr/bin/env python3
"""Patch sizes and build times of `mkpatch diff` (both diff forms) beside bsdiff, xdelta3 -9
and zstd -19 --long=27 --patch-from, on real pairs fetched from the package registries:

  esbuild.exe      npm @esbuild/win32-x64 0.19.11 -> 0.19.12 (npm pack)
  esbuild (linux)  npm @esbuild/linux-x64 0.19.11 -> 0.19.12
  libcrypto.so.3   Debian libssl3 3.0.17-1~deb12u2 -> 3.0.20-1~deb12u2 (apt-get download;
                   when a version is no longer served, the nearest available ones are used
                   and the table says so), and the newest two versions served
  libssl.so.3      from the same packages

usage: delta_figures.py MKPATCH [WORKDIR]     (WORKDIR default build/bench-delta)
mkpatch's size is its payload as a patch carries it (what `mkpatch diff` writes): form 1 the
escaped diff compressed by libdeflate at level 12, form 2 the stream diff with its three xz
streams; the others' outputs are their own compressed formats. Times are wall-clock and
user CPU seconds of the whole command, encoder only, in this same run (CPU time is the
fairer comparison on a busy machine).
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


def fetch_esbuild(version, platform="win32-x64"):
    windows = platform.startswith("win32")
    out = os.path.join(WORK, "esbuild-%s-%s%s" % (platform, version, ".exe" if windows else ""))
    if not os.path.exists(out):
        tgz = run(["npm", "pack", "--silent", "@esbuild/%s@%s" % (platform, version)], cwd=WORK).stdout.strip().splitlines()[-1]
        with tarfile.open(os.path.join(WORK, tgz)) as t:
            member = t.extractfile("package/esbuild.exe" if windows else "package/bin/esbuild")
            with open(out, "wb") as f:
                f.write(member.read())
    return out


def libssl_versions():
    text = run(["apt-cache", "madison", "libssl3"]).stdout
    return [line.split("|")[1].strip() for line in text.splitlines() if "|" in line]


def fetch_libcrypto(version, name="libcrypto"):
    out = os.path.join(WORK, "%s-%s.so.3" % (name, version.replace("~", "_")))
    if not os.path.exists(out):
        subprocess.run(["apt-get", "download", "libssl3=%s" % version], cwd=WORK, check=True,
                       capture_output=True)
        plain = version.split(":")[-1]
        deb = [f for f in os.listdir(WORK) if f.startswith("libssl3_%s_" % plain) and f.endswith(".deb")][0]
        root = os.path.join(WORK, "x-" + version)
        run(["dpkg-deb", "-x", os.path.join(WORK, deb), root])
        shutil.copyfile(os.path.join(root, "usr/lib/x86_64-linux-gnu/%s.so.3" % name), out)
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
    """Wall-clock seconds, user CPU seconds and standard output of one run."""
    before = os.times()
    start = time.monotonic()
    r = subprocess.run(cmd, check=True, capture_output=True, text=True)
    wall = time.monotonic() - start
    after = os.times()
    return (wall, after.children_user - before.children_user), r.stdout


def measure(old, new, tag):
    rows = []
    d = os.path.join(WORK, tag)
    os.makedirs(d, exist_ok=True)
    for form in (1, 2):
        shipped = os.path.join(d, "mkpatch-%d.diff" % form)
        if os.path.exists(shipped):
            os.remove(shipped)
        t, out = timed([MKPATCH, "diff", "--diff-format", str(form), old, new, shipped])
        size = int(re.search(r"(\d+) bytes as shipped", out).group(1))
        assert size == os.path.getsize(shipped)
        check = os.path.join(d, "mkpatch.check")
        if os.path.exists(check):
            os.remove(check)
        run([MKPATCH, "apply", old, shipped, check])
        assert open(check, "rb").read() == open(new, "rb").read(), "mkpatch round trip failed"
        rows.append(("mkpatch form %d" % form, size, t))
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


# The smallest patches known for the two pairs (bsdiff-style differences + LZMA).
BEST_KNOWN = {"esbuild.exe": 151139, "libcrypto.so.3": 226068}


def main():
    os.makedirs(WORK, exist_ok=True)
    pairs = []
    pairs.append(("esbuild.exe 0.19.11 -> 0.19.12",
                  [fetch_esbuild("0.19.11"), fetch_esbuild("0.19.12")]))
    files, label = libcrypto_pair()
    pairs.append(("libcrypto.so.3 " + label, files))
    newest = sorted(libssl_versions(), key=lambda v: [int(x) if x.isdigit() else x for x in re.split(r"[.~-]", v)])[-2:]
    if len(newest) == 2:
        pairs.append(("libcrypto.so.3-newest %s -> %s" % tuple(newest),
                      [fetch_libcrypto(v) for v in newest]))
        pairs.append(("libssl.so.3 %s -> %s" % tuple(newest),
                      [fetch_libcrypto(v, "libssl") for v in newest]))
    pairs.append(("esbuild-linux 0.19.11 -> 0.19.12",
                  [fetch_esbuild("0.19.11", "linux-x64"), fetch_esbuild("0.19.12", "linux-x64")]))
    verdicts = []
    for title, (old, new) in pairs:
        tag = title.split()[0]
        rows = measure(old, new, tag)
        print("\n%s (old %d bytes, new %d bytes)" % (title, os.path.getsize(old), os.path.getsize(new)))
        print("| tool | patch bytes | vs mkpatch form 2 | wall s | user CPU s |")
        print("|---|---:|---:|---:|---:|")
        sizes = {name: (size, t) for name, size, t in rows}
        mk, mk_t = sizes["mkpatch form 2"]
        for name, size, (wall, cpu) in rows:
            print("| %s | %d | %.2fx | %.2f | %.2f |" % (name, size, size / mk, wall, cpu))
        bs = sizes["bsdiff"]
        verdict = "%s: form 2 at most bsdiff: %s (%.3fx); no slower than bsdiff: wall %s, CPU %s" % (
            tag, "yes" if mk <= bs[0] else "NO", mk / bs[0],
            "yes" if mk_t[0] <= bs[1][0] else "NO", "yes" if mk_t[1] <= bs[1][1] else "NO")
        if tag in BEST_KNOWN:
            verdict += "; at most best known %d: %s" % (BEST_KNOWN[tag], "yes" if mk <= BEST_KNOWN[tag] else "NO")
        verdicts.append(verdict)
    print()
    for v in verdicts:
        print(v)
    for n in notes:
        print("note:", n)


if __name__ == "__main__":
    main()
