#!/usr/bin/env python3
"""mkpatch at game scale, beside bsdiff: generates a synthetic game in two versions (by
default 21 000 files and about 5.3 GB per version: many small text and binary files, a few
hundred megabyte-class textures and sounds, three large archives and an executable; some
changed, added, deleted, most unchanged), builds its patch with mkpatch twice (the second
build finds its cache), diffs every changed file with bsdiff one after another, prints the
figures and deletes everything it generated.

  synthetic_game.py MKPATCH [WORKDIR] [--scale F] [--keep]
  synthetic_game.py memory MKPATCH [WORKDIR] [--mb N] [--cpus C] [--kind code|runs|noise]

The second form builds a project of one updated file of N MB (default 129) and reports the peak memory (maximum resident set) beside the file's size
and the payload's size in bytes; with --cpus 1 mkpatch may use one processor only, so the
run shows what splitting one large file across threads gains. The file's kinds: code
(default), machine-code-like bytes with 500 edits; runs, the same with long runs of zeros
and of a short period between (the old file's index must sort these without going
quadratic); noise, random bytes replaced by other random bytes (the worst case for memory).
Times are wall-clock seconds;
processor seconds (user and system, summed over threads) and peak memory come from the
kernel's accounting of each child process (wait4); on a shared machine the processor
seconds are the fairer comparison. Run it with nice if others share the machine.
"""
import os
import random
import shutil
import subprocess
import sys
import time

PROJECT = """from = "1.00"
to = "1.01"
[registry]
reg_path = { key = 'SOFTWARE\\Korax\\Big', value = "InstallPath" }
reg_version = { key = 'SOFTWARE\\Korax\\Big', value = "Version" }
reg_version2 = { key = 'SOFTWARE\\Korax\\Big', value = "Version2" }
reg_language = { key = 'SOFTWARE\\Korax\\Big', value = "Language" }
[[language]]
[[language.pack]]
root = ""
old = "1.00"
new = "1.01"
"""

ALPHABET = b"etaoinshrdlu \n<>/=\"cmfwypvbgk"
LETTERS = bytes(ALPHABET[i % len(ALPHABET)] for i in range(256))  # a translation table


def text_bytes(rng, n):
    # Text-like: a small alphabet in words and repeated lines, compresses to about a third.
    raw = rng.randbytes(n // 2 + 1).translate(LETTERS)
    return (raw + raw[: n - len(raw)])[:n]


def code_bytes(rng, n):
    # Machine-code-like: short repeated instruction patterns with changing operands.
    pattern = rng.randbytes(4096)
    out = bytearray()
    while len(out) < n:
        chunk = bytearray(pattern[rng.randrange(0, 3000):][:rng.randrange(64, 1024)])
        chunk[::7] = rng.randbytes(len(chunk[::7]))
        out += chunk
    return bytes(out[:n])


def noise_bytes(rng, n):
    return rng.randbytes(n)  # textures and sounds are compressed already


def edit(rng, data, edits):
    data = bytearray(data)
    for _ in range(edits):
        pos = rng.randrange(0, max(1, len(data)))
        what = rng.randrange(3)
        run = rng.randrange(1, 400)
        if what == 0:
            data[pos:pos + run] = rng.randbytes(run)
        elif what == 1:
            data[pos:pos] = rng.randbytes(run)
        else:
            del data[pos:pos + run]
    return bytes(data)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def generate(root, scale):
    rng = random.Random(2026)
    kinds = []  # (relative path, maker, size)
    for i in range(int(19000 * scale)):
        size = int(rng.lognormvariate(9.5, 1.2)) + 1  # median ~13 kB, long tail
        size = min(size, 400_000)
        maker = text_bytes if i % 3 else code_bytes
        kinds.append(("data/%s/%03d/file%05d.%s" % (("xml", "bin", "lua")[i % 3], i % 173, i, ("xml", "bin", "lua")[i % 3]), maker, size))
    for i in range(int(1300 * scale)):
        kinds.append(("textures/set%02d/tex%04d.dds" % (i % 40, i), noise_bytes, rng.randrange(1_000_000, 5_000_000)))
    for i in range(int(600 * scale)):
        kinds.append(("sound/bank%02d/snd%04d.ogg" % (i % 20, i), noise_bytes, rng.randrange(500_000, 3_000_000)))
    for i in range(3):
        kinds.append(("archives/level%d.pak" % i, code_bytes, int(60_000_000 * scale)))
    kinds.append(("game.exe", code_bytes, int(30_000_000 * scale)))
    counts = {"unchanged": 0, "changed": 0, "added": 0, "deleted": 0}
    changed_pairs = []
    total_old = total_new = 0
    for n, (rel, maker, size) in enumerate(kinds):
        r = random.Random(n)
        fate = r.random()
        large = size >= 20_000_000
        if large:
            fate = 0.5  # the archives and the executable always change
        old = maker(r, size)
        if fate < 0.03:
            counts["deleted"] += 1
            write(os.path.join(root, "1.00", rel), old)
            total_old += len(old)
            continue
        if fate < 0.07:
            counts["added"] += 1
            rel_new = rel.replace("file", "new").replace("tex", "newtex").replace("snd", "newsnd")
            write(os.path.join(root, "1.01", rel_new), old)
            total_new += len(old)
            continue
        write(os.path.join(root, "1.00", rel), old)
        total_old += len(old)
        if fate < 0.15 or large:
            counts["changed"] += 1
            new = edit(r, old, 200 if large else r.randrange(1, 6))
            changed_pairs.append(rel)
        else:
            counts["unchanged"] += 1
            new = old
        write(os.path.join(root, "1.01", rel), new)
        total_new += len(new)
    with open(os.path.join(root, "game.toml"), "w") as f:
        f.write(PROJECT)
    return counts, changed_pairs, total_old, total_new


def timed(cmd, cpus=None, **kw):
    start = time.monotonic()
    pin = (lambda: os.sched_setaffinity(0, sorted(os.sched_getaffinity(0))[:cpus])) if cpus else None
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, preexec_fn=pin, **kw)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    timed.cpu = usage.ru_utime + usage.ru_stime  # processor seconds, all threads
    return time.monotonic() - start, usage.ru_maxrss * 1024, proc.returncode, out.decode(errors="replace")


def loadavg():
    return "%.2f %.2f %.2f" % os.getloadavg()


def game(mkpatch, work, scale, keep):
    root = os.path.join(work, "game")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(root)
    try:
        start = time.monotonic()
        counts, changed, total_old, total_new = generate(root, scale)
        files = sum(counts.values())
        print("generated in %.0f s: %d files (%s), old %.2f GB, new %.2f GB"
              % (time.monotonic() - start, files, ", ".join("%d %s" % (v, k) for k, v in counts.items()),
                 total_old / 1e9, total_new / 1e9), flush=True)
        out = os.path.join(work, "out")
        for label in ("first build", "second build"):
            print("load average before the %s: %s" % (label, loadavg()), flush=True)
            seconds, rss, code, text = timed([mkpatch, "build", os.path.join(root, "game.toml"), "--out", out, "--resources-only"])
            print(text.rstrip())
            print("mkpatch %s: %.1f s (%.1f processor seconds), peak memory %.0f MB, exit %d"
                  % (label, seconds, timed.cpu, rss / 1e6, code), flush=True)
            if code != 0:
                return 1
        print("load average before bsdiff: %s" % loadavg(), flush=True)
        bs_seconds, bs_cpu, bs_rss, bs_bytes = 0.0, 0.0, 0, 0
        patch = os.path.join(work, "bsdiff.patch")
        for rel in changed:
            seconds, rss, code, text = timed(["bsdiff", os.path.join(root, "1.00", rel), os.path.join(root, "1.01", rel), patch])
            if code != 0:
                print("bsdiff failed on %s: %s" % (rel, text))
                return 1
            bs_seconds += seconds
            bs_cpu += timed.cpu
            bs_rss = max(bs_rss, rss)
            bs_bytes += os.path.getsize(patch)
        resources = os.path.join(out, "resources")
        size = sum(os.path.getsize(os.path.join(resources, n)) for n in os.listdir(resources))
        updated = 0
        with open(os.path.join(resources, "5002.xml")) as f:
            section = f.read().split("<updated>")[1].split("</updated>")[0]
        for part in section.split(' id="')[1:]:  # payloads stored whole carry no comp_size
            updated += os.path.getsize(os.path.join(resources, part.split('"')[0] + ".bin"))
        print("bsdiff, %d changed files one after another: %.1f s (%.1f processor seconds), peak memory %.0f MB, "
              "patches %.1f kB; mkpatch's payloads of the same files %.1f kB (whole patch with added files %.1f MB)"
              % (len(changed), bs_seconds, bs_cpu, bs_rss / 1e6, bs_bytes / 1e3, updated / 1e3, size / 1e6))
        return 0
    finally:
        if not keep:
            shutil.rmtree(work, ignore_errors=True)


def runs_bytes(rng, n):
    # Zero padding and periodic filler (megabytes of each), between stretches of code.
    out = bytearray()
    while len(out) < n:
        out += code_bytes(rng, rng.randrange(100_000, 2_000_000))
        out += bytes(rng.randrange(1_000_000, 8_000_000))
        out += rng.randbytes(rng.randrange(1, 13)) * (rng.randrange(1_000_000, 4_000_000) // 8)
    return bytes(out[:n])


def memory(mkpatch, work, megabytes, cpus, kind):
    root = os.path.join(work, "memory")
    shutil.rmtree(root, ignore_errors=True)
    try:
        rng = random.Random(129)
        if kind == "noise":
            old, new = noise_bytes(rng, megabytes * 1_000_000), noise_bytes(rng, megabytes * 1_000_000)
        else:
            old = (runs_bytes if kind == "runs" else code_bytes)(rng, megabytes * 1_000_000)
            new = edit(rng, old, 500)
        write(os.path.join(root, "1.00", "big.bin"), old)
        write(os.path.join(root, "1.01", "big.bin"), new)
        size = len(new)
        del old, new
        with open(os.path.join(root, "game.toml"), "w") as f:
            f.write(PROJECT)
        print("load average before the build: %s" % loadavg(), flush=True)
        seconds, rss, code, text = timed([mkpatch, "build", os.path.join(root, "game.toml"), "--out",
                                          os.path.join(root, "out"), "--resources-only"], cpus)
        print(text.rstrip())
        resources = os.path.join(root, "out", "resources")
        payload = sum(os.path.getsize(os.path.join(resources, n)) for n in os.listdir(resources) if n.endswith(".bin"))
        print("one %d MB file (%s): %.1f s (%.1f processor seconds%s), peak memory %.0f MB (%.2f times the new file), "
              "payload %d bytes, exit %d"
              % (size // 1_000_000, kind, seconds, timed.cpu,
                 ", on %d processor%s" % (cpus, "s" if cpus > 1 else "") if cpus else "",
                 rss / 1e6, rss / size, payload, code))
        return code
    finally:
        shutil.rmtree(root, ignore_errors=True)


def main(argv):
    keep = "--keep" in argv
    argv = [a for a in argv if a != "--keep"]
    kind = argv[argv.index("--kind") + 1] if "--kind" in argv else "code"
    option = lambda name, default: float(argv[argv.index(name) + 1]) if name in argv else default
    if kind not in ("code", "runs", "noise"):
        print("--kind: code, runs or noise")
        return 2
    plain = [a for i, a in enumerate(argv) if not a.startswith("--") and (i == 0 or not argv[i - 1].startswith("--"))]
    if plain and plain[0] == "memory":
        return memory(os.path.abspath(plain[1]), os.path.abspath(plain[2] if len(plain) > 2 else "build/bench-game"),
                      int(option("--mb", 129)), int(option("--cpus", 0)), kind)
    return game(os.path.abspath(plain[0]), os.path.abspath(plain[1] if len(plain) > 1 else "build/bench-game"),
                option("--scale", 1.0), keep)


sys.exit(main(sys.argv[1:]))
