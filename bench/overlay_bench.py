#!/usr/bin/env python3
"""A patch larger than the patcher's image, end to end: generates an update of about
5.5 GB of patch data (incompressible added files and large changed files), builds it with
mkpatch into one signed patcher-win64.exe (most of it in the overlay), applies it under
Wine to the old installation and compares the result with the new tree byte for byte.
Beside mkpatch it times a plain copy of the new files (cp) as the reference for what
reading and writing them costs; beside the patcher it reports the largest file rebuilt.

  overlay_bench.py MKPATCH STUBS_DIR WORKDIR [--added N] [--mb M] [--changed K]
                   [--max-image-bytes B] [--unsigned] [--cache] [--build-only] [--keep]

N added files of M MiB of random bytes (default 10 of 540), K changed files of M/2 MiB
(default 2) with a few hundred edits each; --max-image-bytes is passed to mkpatch (a small
run forced into the overlay); --unsigned leaves the project unsigned, --cache lets mkpatch
use its payload cache (as a plain build does), --build-only stops after mkpatch (the figure
for incompressible data: `--added 10 --mb 100 --changed 0 --build-only`). WORKDIR must not be in the repository; it needs
about six times the patch data in free space and is deleted at the end unless --keep.
Reports wall time, processor time and peak memory of mkpatch (kernel accounting, wait4)
and the patcher's peak working set (the Wine process's VmHWM). Run it with nice on a
shared machine.
"""
import argparse
import hashlib
import os
import random
import shutil
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
MIB = 1 << 20
PROJECT = """from = "1.00"
to = "1.01"
[registry]
reg_path = { key = 'SOFTWARE\\Korax\\Overlay', value = "InstallPath" }
reg_version = { key = 'SOFTWARE\\Korax\\Overlay', value = "Version" }
reg_version2 = { key = 'SOFTWARE\\Korax\\Overlay', value = "Version2" }
reg_language = { key = 'SOFTWARE\\Korax\\Overlay', value = "Language" }
%s[[language]]
[[language.pack]]
root = ""
old = "1.00"
new = "1.01"
"""
SIGN = """[sign]
certificate = "signing/test-certificate.pem"
key = "signing/test-key.pem"
"""
PROJECT = PROJECT % SIGN


def write_random(path, size, seed):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    rng = random.Random(seed)
    with open(path, "wb") as f:
        for left in range(size, 0, -MIB):
            f.write(rng.randbytes(min(MIB, left)))


def write_edited(source, target, seed, edits):
    data = bytearray(open(source, "rb").read())
    rng = random.Random(seed)
    for _ in range(edits):
        at, run = rng.randrange(len(data)), rng.randrange(1, 300)
        if rng.random() < 0.5:
            data[at:at + run] = rng.randbytes(run)
        else:
            data[at:at] = rng.randbytes(run)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    with open(target, "wb") as f:
        f.write(data)


def timed(args, **kw):
    """Wall seconds, processor seconds, peak resident bytes, exit code."""
    start = time.monotonic()
    proc = subprocess.Popen(args, **kw)
    _, status, usage = os.wait4(proc.pid, 0)
    return (time.monotonic() - start, usage.ru_utime + usage.ru_stime, usage.ru_maxrss * 1024,
            os.waitstatus_to_exitcode(status))


def tree_hashes(root):
    out = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            h = hashlib.sha256()
            with open(path, "rb") as f:
                for piece in iter(lambda: f.read(MIB), b""):
                    h.update(piece)
            out[os.path.relpath(path, root).lower()] = h.hexdigest()
    return out


class PeakWatcher(threading.Thread):
    """Largest VmHWM of any process whose command line names the patcher."""

    def __init__(self, name):
        super().__init__(daemon=True)
        self.pattern, self.peak, self.stop = name.encode(), 0, False

    def run(self):
        while not self.stop:
            for pid in filter(str.isdigit, os.listdir("/proc")):
                try:
                    if self.pattern not in open("/proc/%s/cmdline" % pid, "rb").read():
                        continue
                    for line in open("/proc/%s/status" % pid):
                        if line.startswith("VmHWM:"):
                            self.peak = max(self.peak, int(line.split()[1]) * 1024)
                except OSError:
                    pass
            time.sleep(0.2)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mkpatch")
    parser.add_argument("stubs")
    parser.add_argument("work")
    parser.add_argument("--added", type=int, default=10)
    parser.add_argument("--mb", type=int, default=540)
    parser.add_argument("--changed", type=int, default=2)
    parser.add_argument("--max-image-bytes", type=int)
    parser.add_argument("--unsigned", action="store_true")
    parser.add_argument("--cache", action="store_true")
    parser.add_argument("--build-only", action="store_true")
    parser.add_argument("--keep", action="store_true")
    a = parser.parse_args()
    work = os.path.abspath(a.work)
    if os.path.commonpath([work, REPO]) == REPO:
        sys.exit("WORKDIR must lie outside the repository")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    try:
        run(a, work)
    finally:
        if not a.keep:
            shutil.rmtree(work, ignore_errors=True)


def run(a, work):
    old, new = os.path.join(work, "1.00"), os.path.join(work, "1.01")
    print("generating in %s" % work, flush=True)
    for i in range(a.changed):
        write_random(os.path.join(old, "archives", "level%d.pak" % i), a.mb * MIB // 2, 100 + i)
        write_edited(os.path.join(old, "archives", "level%d.pak" % i),
                     os.path.join(new, "archives", "level%d.pak" % i), 200 + i, 300)
    for i in range(a.added):
        write_random(os.path.join(new, "movies", "movie%02d.bik" % i), a.mb * MIB, 300 + i)
    for tree in (old, new):
        os.makedirs(tree, exist_ok=True)
        with open(os.path.join(tree, "readme.txt"), "w") as f:
            f.write("Korax overlay bench %s\n" % os.path.basename(tree) * 50)
    subprocess.run([sys.executable, "-c", "import sys; sys.path.insert(0, %r); import make_demo; "
                    "make_demo.make_test_certificate(%r)" % (os.path.join(REPO, "demo"),
                                                           os.path.join(work, "signing"))], check=True)
    with open(os.path.join(work, "project.toml"), "w") as f:
        f.write(PROJECT.replace(SIGN, "") if a.unsigned else PROJECT)
    new_bytes = sum(os.path.getsize(os.path.join(d, n)) for d, _, ns in os.walk(new) for n in ns)
    largest = max(os.path.getsize(os.path.join(d, n)) for d, _, ns in os.walk(new) for n in ns)

    subprocess.run(["sync"])
    ref = timed(["cp", "-r", new, os.path.join(work, "copy")])
    subprocess.run(["sync"])
    shutil.rmtree(os.path.join(work, "copy"))
    out = os.path.join(work, "out")
    with open(os.path.join(work, "mkpatch.log"), "w") as log:
        build = timed([a.mkpatch, "build", os.path.join(work, "project.toml"), "--out", out,
                       "--stubs", a.stubs] + ([] if a.cache else ["--no-cache"]) +
                      (["--max-image-bytes", str(a.max_image_bytes)] if a.max_image_bytes else []),
                      stdout=log, stderr=log)
    if build[3] != 0:
        sys.exit("mkpatch build failed: see mkpatch.log (--keep keeps it)")
    exe = os.path.join(out, "patcher-win64.exe")
    exe_bytes = os.path.getsize(exe)
    verify = subprocess.run(["osslsigncode", "verify", "-in", exe, "-CAfile",
                             os.path.join(work, "signing", "test-certificate.pem")],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    if a.unsigned:
        verify = 0
    print("new files: %.2f GB, largest %.0f MB; patcher-win64.exe %.2f GB, signature %s"
          % (new_bytes / 1e9, largest / 1e6, exe_bytes / 1e9,
             "not asked for" if a.unsigned else "verifies" if verify == 0 else "FAILS"))
    print("cp -r of the new files:  wall %6.1f s  cpu %6.1f s  (%.0f MB/s)"
          % (ref[0], ref[1], new_bytes / 1e6 / ref[0]))
    print("mkpatch build:           wall %6.1f s  cpu %6.1f s  peak memory %.0f MB  (%.0f MB/s of new files)"
          % (build[0], build[1], build[2] / 1e6, new_bytes / 1e6 / build[0]))
    print("mkpatch build / cp -r:   %.2f of cp's wall time" % (build[0] / ref[0]), flush=True)
    if a.build_only:
        return
    # The two patchers and the resources folder are not needed for the run: room for it.
    os.remove(os.path.join(out, "patcher-win32.exe"))
    shutil.rmtree(os.path.join(out, "resources"))

    prefix = os.path.join(work, "prefix")
    subprocess.run([os.path.join(REPO, "scripts", "wine-run"), prefix, "cmd", "/c", "exit"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    install = os.path.join(prefix, "drive_c", "Games", "Overlay")
    shutil.copytree(old, install)
    key = "HKLM\\SOFTWARE\\Korax\\Overlay"
    for name, kind, value in (("InstallPath", "REG_SZ", "C:\\Games\\Overlay"), ("Version", "REG_SZ", "1.00"),
                              ("Version2", "REG_SZ", "1.00"), ("Language", "REG_DWORD", "9")):
        subprocess.run(["wine", "reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f"], env=env,
                       check=True, stdout=subprocess.DEVNULL)
    watcher = PeakWatcher("patcher-win64.exe")
    watcher.start()
    applied = timed([os.path.join(REPO, "scripts", "private-screen"),
                     os.path.join(REPO, "demo", "drive_patcher.sh"), prefix, exe,
                     os.path.join(work, "shots")], env=env)
    watcher.stop = True
    watcher.join()
    same = tree_hashes(install) == tree_hashes(new)
    print("patcher under Wine:      wall %6.1f s  peak working set %.0f MB (%.0f MB beyond the largest file)"
          % (applied[0], watcher.peak / 1e6, (watcher.peak - largest) / 1e6))
    print("installation equals the new tree byte for byte: %s" % ("yes" if same else "NO"))
    if not same or verify != 0:
        sys.exit(1)


if __name__ == "__main__":
    main()
