#!/usr/bin/env python3
"""A patch larger than the patcher's image, end to end: generates an update of about
5.5 GB of patch data (incompressible added files and large changed files), builds it with
mkpatch into one signed patcher-win64.exe (most of it in the overlay), applies it under
Wine to the old installation and compares the result with the new tree byte for byte.
Beside mkpatch it times a plain copy of the new files (cp) as the reference for what
reading and writing them costs; beside the patcher it reports the largest file rebuilt.

  overlay_bench.py MKPATCH STUBS_DIR WORKDIR [--added N] [--mb M] [--changed K]
                   [--changed-mb C] [--max-image-bytes B] [--unsigned] [--cache]
                   [--build-only] [--keep]

N added files of M MiB of random bytes (default 10 of 540), K changed files of C MiB
(default 2 of M/2) with a few hundred edits and insertions each; --max-image-bytes is passed to mkpatch (a small
run forced into the overlay); --unsigned leaves the project unsigned, --cache lets mkpatch
use its payload cache (as a plain build does), --build-only stops after mkpatch (the figure
for incompressible data: `--added 10 --mb 100 --changed 0 --build-only`). WORKDIR must not be in the repository; it needs
about six times the patch data in free space and is deleted at the end unless --keep.
Reports wall time, processor time and peak memory of mkpatch (kernel accounting, wait4;
mkpatch's own peak apart from osslsigncode's, which maps the whole patcher), the time
osslsigncode spent signing and verifying inside the build, the patcher's peak working set
(the Wine process's VmHWM) and the most disk space the run took beside the game (the
installation folder's peak size beyond its final one), and that a patcher whose overlay
with one byte changed after signing no longer verifies. The new files are dropped from the
page cache (posix_fadvise) before cp and before mkpatch, so both read them from disk. Run
it with nice on a shared machine.
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


def timed_then_synced(args, **kw):
    """As timed, with the sync that writes the command's output to disk counted in."""
    run = timed(args, **kw)
    synced = timed(["sync"])
    return (run[0] + synced[0], run[1] + synced[1], run[2], run[3])


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
    """Largest VmHWM of any process whose command line holds `name` (the first word only
    with first_word), and the seconds in which such a process was seen running."""

    def __init__(self, name, first_word=False, folder=None):
        super().__init__(daemon=True)
        self.pattern, self.first_word, self.peak, self.stop = name.encode(), first_word, 0, False
        self.seen = 0.0
        self.folder, self.folder_peak = folder, 0  # with folder: the largest size of its files

    def run(self):
        while not self.stop:
            found = False
            for pid in filter(str.isdigit, os.listdir("/proc")):
                try:
                    cmdline = open("/proc/%s/cmdline" % pid, "rb").read()
                    if self.pattern not in (cmdline.split(b"\0")[0] if self.first_word else cmdline):
                        continue
                    found = True
                    for line in open("/proc/%s/status" % pid):
                        if line.startswith("VmHWM:"):
                            self.peak = max(self.peak, int(line.split()[1]) * 1024)
                except OSError:
                    pass
            if self.folder:
                self.folder_peak = max(self.folder_peak, tree_bytes(self.folder))
            time.sleep(0.5)
            self.seen += 0.5 if found else 0.0


def tree_bytes(root):
    total = 0
    for folder, _, names in os.walk(root):
        for name in names:
            try:
                total += os.path.getsize(os.path.join(folder, name))
            except OSError:
                pass
    return total


def drop_from_cache(root):
    """Writes the tree's files out and drops them from the page cache."""
    subprocess.run(["sync"])
    for folder, _, names in os.walk(root):
        for name in names:
            fd = os.open(os.path.join(folder, name), os.O_RDONLY)
            try:
                os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
            finally:
                os.close(fd)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mkpatch")
    parser.add_argument("stubs")
    parser.add_argument("work")
    parser.add_argument("--added", type=int, default=10)
    parser.add_argument("--mb", type=int, default=540)
    parser.add_argument("--changed", type=int, default=2)
    parser.add_argument("--changed-mb", type=int)
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
    changed_mb = a.changed_mb if a.changed_mb is not None else a.mb // 2
    for i in range(a.changed):
        write_random(os.path.join(old, "archives", "level%d.pak" % i), changed_mb * MIB, 100 + i)
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

    drop_from_cache(new)
    ref = timed_then_synced(["cp", "-r", new, os.path.join(work, "copy")])
    shutil.rmtree(os.path.join(work, "copy"))
    drop_from_cache(new)
    out = os.path.join(work, "out")
    mkpatch_peak = PeakWatcher(os.path.basename(a.mkpatch), first_word=True)
    signer = PeakWatcher("osslsigncode", first_word=True)
    mkpatch_peak.start()
    signer.start()
    with open(os.path.join(work, "mkpatch.log"), "w") as log:
        build = timed_then_synced([a.mkpatch, "build", os.path.join(work, "project.toml"), "--out", out,
                       "--stubs", a.stubs] + ([] if a.cache else ["--no-cache"]) +
                      (["--max-image-bytes", str(a.max_image_bytes)] if a.max_image_bytes else []),
                      stdout=log, stderr=log)
    mkpatch_peak.stop = signer.stop = True
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
    print("cp -r of the new files:  wall %6.1f s  cpu %6.1f s  (%.0f MB/s; with sync)"
          % (ref[0], ref[1], new_bytes / 1e6 / ref[0]))
    print("mkpatch build:           wall %6.1f s  cpu %6.1f s  peak memory %.0f MB, mkpatch alone %.0f MB  "
          "(%.0f MB/s of new files; with sync)"
          % (build[0], build[1], build[2] / 1e6, mkpatch_peak.peak / 1e6, new_bytes / 1e6 / build[0]))
    if not a.unsigned:
        print("  of it osslsigncode (sign and verify, both patchers): about %.0f s" % signer.seen)
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
    game_before = tree_bytes(install)
    watcher = PeakWatcher("patcher-win64.exe", folder=install)
    watcher.start()
    applied = timed([os.path.join(REPO, "scripts", "private-screen"),
                     os.path.join(REPO, "demo", "drive_patcher.sh"), prefix, exe,
                     os.path.join(work, "shots")], env=env)
    watcher.stop = True
    watcher.join()
    same = tree_hashes(install) == tree_hashes(new)
    game_after = tree_bytes(install)
    print("patcher under Wine:      wall %6.1f s  peak working set %.0f MB (%.0f MB beyond the largest file)"
          % (applied[0], watcher.peak / 1e6, (watcher.peak - largest) / 1e6))
    print("installation: %.2f GB before, %.2f GB after, at most %.2f GB during the run "
          "(%.0f MB beside the patched game)" % (game_before / 1e9, game_after / 1e9, watcher.folder_peak / 1e9,
                                                 max(0, watcher.folder_peak - game_after) / 1e6))
    print("installation equals the new tree byte for byte: %s" % ("yes" if same else "NO"))
    tampered = 0
    if not a.unsigned:
        # One byte of the overlay's last payload changed after signing: the signature fails.
        with open(exe, "r+b") as f:
            f.seek(-64 * 1024, os.SEEK_END)
            at = f.tell()
            f.seek(at - 4096)
            byte = f.read(1)
            f.seek(at - 4096)
            f.write(bytes([byte[0] ^ 1]))
        tampered = subprocess.run(["osslsigncode", "verify", "-in", exe, "-CAfile",
                                   os.path.join(work, "signing", "test-certificate.pem")],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
        print("one overlay byte changed after signing: verification %s"
              % ("fails, as it must" if tampered != 0 else "STILL PASSES"))
    if not same or verify != 0 or (not a.unsigned and tampered == 0):
        sys.exit(1)


if __name__ == "__main__":
    main()
