#!/usr/bin/env python3
"""Patch sizes and times of archive diffs: `mkpatch diff` (default: the archive form where it
pays) beside `mkpatch diff --diff-format 2` (today's plain diff), bsdiff, xdelta3 -9 and
zstd -19 --long=27 --patch-from, on real pairs of zip-format archives fetched with apt:

  tomcat10-*.jar   Debian libtomcat10-java 10.1.55 -> 10.1.60 (every jar of the package
                   over 200 kB; versions as `apt-cache madison` lists them)
  java.base.jmod,  the JDK's modules (a 4-byte header before the zip), Debian's
  java.desktop.jmod  openjdk-17-jdk-headless 17.0.19 -> 17.0.21.1
and two pairs made from them:
  stamps-only      the catalina jar rewritten by Python's zipfile with every entry's time
                   stamp changed, contents and compression as they were
  info-zip         both catalina jars unpacked and packed again by Info-ZIP's zip -9,
                   another deflate implementation

usage: archive_figures.py MKPATCH [WORKDIR]   (WORKDIR default build/bench-archive)
Environment: ONLY=regex measures only the pairs whose name matches.
Needs scripts/deps --bench (bsdiff, xdelta3, zstd) and Info-ZIP's zip. Times are wall-clock
and, in brackets, processor seconds (user and system) of the whole command in this same
run; on a loaded machine only the latter mean much. "apply" is `mkpatch apply` beside `cp`
of the new file and Python's zlib compressing, at level 6, the new archive's deflate
entries whose compressed bytes are not the old entry's of the same name (what the
patcher's rebuild must at least spend), all in processor seconds; "limit" is 3 times cp
plus that. Processor seconds are each process's own (wait4), and apply and cp run
several times (until 1 s or 40 runs, at least 3), their median taken: small archives
apply in a few hundredths of a second, less than the variation of one run.
"""
import glob
import os
import re
import shutil
import statistics
import subprocess
import sys
import time
import zipfile
import zlib

MKPATCH = os.path.abspath(sys.argv[1])
WORK = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "build/bench-archive")


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, capture_output=True, text=True, **kw)


def timed(cmd):
    """Output, wall-clock seconds and processor seconds (user and system) of a command."""
    start = time.time()
    child = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    out, err = child.stdout.read(), child.stderr.read()
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise subprocess.CalledProcessError(child.returncode, cmd, out, err)
    return out, time.time() - start, usage.ru_utime + usage.ru_stime


def repeated(cmd, output):
    """Median wall-clock and processor seconds of a command that writes output (removed
    before each run), run until 1 s of processor time has gone or 40 times, at least 3."""
    walls, cpus = [], []
    while len(cpus) < 3 or (len(cpus) < 40 and sum(cpus) < 1.0):
        if os.path.exists(output):
            os.remove(output)
        _, wall, cpu = timed(cmd)
        walls.append(wall)
        cpus.append(cpu)
    return statistics.median(walls), statistics.median(cpus)


def versions(package):
    text = run(["apt-cache", "madison", package]).stdout
    return sorted({line.split("|")[1].strip() for line in text.splitlines() if "|" in line})


def unpack(package, version):
    root = os.path.join(WORK, "%s-%s" % (package, version.replace("~", "_").replace(":", "_")))
    if not os.path.isdir(root):
        plain = version.split(":")[-1]
        debs = lambda: [f for f in os.listdir(WORK) if f.startswith(package + "_" + plain) and f.endswith(".deb")]
        if not debs():
            subprocess.run(["apt-get", "download", "%s=%s" % (package, version)], cwd=WORK,
                           check=True, capture_output=True)
        run(["dpkg-deb", "-x", os.path.join(WORK, debs()[0]), root])
    return root


def packed_entries(path):
    """Each deflate entry's name and compressed bytes."""
    with open(path, "rb") as f:
        data = f.read()
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            if info.compress_type != zipfile.ZIP_DEFLATED:
                continue
            at = info.header_offset
            name_length, extra_length = int.from_bytes(data[at + 26:at + 28], "little"), int.from_bytes(data[at + 28:at + 30], "little")
            start = at + 30 + name_length + extra_length
            yield info, data[start:start + info.compress_size]


def deflate_seconds(old, new):
    """Python's zlib deflating, once at level 6, the new archive's changed deflate entries."""
    before = {info.filename: packed for info, packed in packed_entries(old)}
    with zipfile.ZipFile(new) as z:
        contents = [z.read(info) for info, packed in packed_entries(new) if before.get(info.filename) != packed]
    start = time.process_time()
    for c in contents:
        o = zlib.compressobj(6, zlib.DEFLATED, -15)
        o.compress(c)
        o.flush()
    return time.process_time() - start


def measure_pair(name, old, new):
    out = os.path.join(WORK, "out")
    os.makedirs(out, exist_ok=True)
    row = {"name": name, "size": os.path.getsize(new)}
    text, row["t3"], row["u3"] = timed([MKPATCH, "diff", old, new, os.path.join(out, "a.diff")])
    row["form"] = re.search(r"form (\d)", text).group(1)
    summary = re.search(r"archive: (.*)", text)
    row["summary"] = summary.group(1) if summary else "(archive form not smaller)"
    row["mk3"] = os.path.getsize(os.path.join(out, "a.diff"))
    _, row["t2"], row["u2"] = timed([MKPATCH, "diff", "--diff-format", "2", old, new, os.path.join(out, "p.diff")])
    row["mk2"] = os.path.getsize(os.path.join(out, "p.diff"))
    _, row["tb"], row["ub"] = timed(["bsdiff", old, new, os.path.join(out, "b.diff")])
    row["bs"] = os.path.getsize(os.path.join(out, "b.diff"))
    run(["xdelta3", "-9", "-f", "-e", "-s", old, new, os.path.join(out, "x.diff")])
    row["xd"] = os.path.getsize(os.path.join(out, "x.diff"))
    run(["zstd", "-q", "-f", "-19", "--long=27", "--patch-from=" + old, new, "-o", os.path.join(out, "z.diff")])
    row["zs"] = os.path.getsize(os.path.join(out, "z.diff"))
    rebuilt = os.path.join(out, "rebuilt")
    row["ta"], row["ua"] = repeated([MKPATCH, "apply", old, os.path.join(out, "a.diff"), rebuilt], rebuilt)
    with open(rebuilt, "rb") as a, open(new, "rb") as b:
        row["same"] = a.read() == b.read()
    row["tcw"], row["tc"] = repeated(["cp", new, rebuilt], rebuilt)
    row["tz"] = deflate_seconds(old, new)
    return row


def restamp(src, dst, date_time):
    """The same entries, compressed the same way (zlib level 6, as the jar's are), with
    other time stamps."""
    with zipfile.ZipFile(src) as z, zipfile.ZipFile(dst, "w") as out:
        for info in z.infolist():
            copy = zipfile.ZipInfo(info.filename, date_time=date_time)
            copy.compress_type = info.compress_type
            out.writestr(copy, z.read(info))


def info_zip(src, dst):
    folder = dst + ".d"
    shutil.rmtree(folder, ignore_errors=True)
    with zipfile.ZipFile(src) as z:
        z.extractall(folder)
    if os.path.exists(dst):
        os.remove(dst)
    run(["zip", "-q", "-X", "-9", "-r", dst, "."], cwd=folder)
    shutil.rmtree(folder)


def main():
    os.makedirs(WORK, exist_ok=True)
    rows = []
    only = re.compile(os.environ.get("ONLY", ""))

    def measure(name, old, new):
        if only.search(name):
            rows.append(measure_pair(name, old, new))
    tomcat = versions("libtomcat10-java")
    old_root, new_root = unpack("libtomcat10-java", tomcat[0]), unpack("libtomcat10-java", tomcat[-1])
    old_v, new_v = (re.match(r"[\d.]+", v).group(0) for v in (tomcat[0], tomcat[-1]))
    for old in sorted(glob.glob(os.path.join(old_root, "usr/share/java/tomcat10-*-%s.jar" % old_v))):
        new = old.replace(old_root, new_root).replace(old_v + ".jar", new_v + ".jar")
        if os.path.getsize(old) > 200_000 and os.path.exists(new):
            measure(os.path.basename(new), old, new)
    catalina_old = os.path.join(old_root, "usr/share/java/tomcat10-catalina-%s.jar" % old_v)
    catalina_new = os.path.join(new_root, "usr/share/java/tomcat10-catalina-%s.jar" % new_v)
    stamps = [os.path.join(WORK, "stamps-%d.jar" % i) for i in (0, 1)]
    restamp(catalina_old, stamps[0], (2030, 1, 2, 3, 4, 6))
    restamp(stamps[0], stamps[1], (2031, 5, 6, 7, 8, 10))
    measure("stamps-only", *stamps)
    zips = [os.path.join(WORK, "info-zip-%d.zip" % i) for i in (0, 1)]
    info_zip(catalina_old, zips[0])
    info_zip(catalina_new, zips[1])
    measure("info-zip", *zips)
    jdk = versions("openjdk-17-jdk-headless")
    if len(jdk) >= 2 and only.search("java.base.jmod java.desktop.jmod"):
        a, b = unpack("openjdk-17-jdk-headless", jdk[0]), unpack("openjdk-17-jdk-headless", jdk[-1])
        for module in ("java.base", "java.desktop"):
            path = "usr/lib/jvm/java-17-openjdk-amd64/jmods/%s.jmod" % module
            measure("%s.jmod" % module, os.path.join(a, path), os.path.join(b, path))

    print("pairs: libtomcat10-java %s -> %s, openjdk-17-jdk-headless %s" % (tomcat[0], tomcat[-1], " -> ".join(jdk)))
    print("| archive | new size | archive form | plain diff | bsdiff | xdelta3 | zstd | form/bsdiff | build s (cpu) form / plain | cpu form/plain | apply s (cpu) / cp cpu / zlib cpu | apply cpu / limit | exact |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---|---:|---|---:|---|")
    for r in rows:
        limit = 3 * (r["tc"] + r["tz"])
        print("| %s | %d | %d | %d | %d | %d | %d | %.3f | %.2f (%.2f) / %.2f (%.2f) | %.2f | %.3f (%.4f) / %.4f / %.4f | %.2f | %s |" % (
            r["name"], r["size"], r["mk3"], r["mk2"], r["bs"], r["xd"], r["zs"], r["mk3"] / r["bs"],
            r["t3"], r["u3"], r["t2"], r["u2"], r["u3"] / max(r["u2"], 1e-3), r["ta"], r["ua"], r["tc"],
            r["tz"], r["ua"] / limit, "yes" if r["same"] else "NO"))
    for r in rows:
        print("%s: form %s, %s" % (r["name"], r["form"], r["summary"]))


if __name__ == "__main__":
    main()
