#!/usr/bin/env python3
"""What one patcher for several starting versions saves over separate patches: builds the
patch of a multi-version project and, beside it, one patch per starting version from the
same folders, and prints the sizes of their patch data (manifests and payloads; the skin
images and icon, the same in every patcher, are left out).

  versions_saving.py MKPATCH demo MAKE_DEMO WORKDIR    the demo's demo-versions.toml
  versions_saving.py MKPATCH game WORKDIR [--scale F]  a synthetic game in four versions,
                                                      one patcher from 1.00, 1.01, 1.02 to 1.03

The synthetic game (default about 2 700 files and 330 MB per version) changes from one
version to the next as a game does: a few percent of the files edited, some added, a few
deleted, the executable and the archives always rebuilt; a file edited once stays edited,
so older versions differ from the newest in more files. Everything generated stays in
WORKDIR, which is deleted at the end unless --keep is given. Run it with nice on a shared
machine.
"""
import os
import random
import re
import shutil
import subprocess
import sys

HEADER = """[registry]
reg_path = { key = 'SOFTWARE\\Korax\\Big', value = "InstallPath" }
reg_version = { key = 'SOFTWARE\\Korax\\Big', value = "Version" }
reg_version2 = { key = 'SOFTWARE\\Korax\\Big', value = "Version2" }
reg_language = { key = 'SOFTWARE\\Korax\\Big', value = "Language" }
[[language]]
[[language.pack]]
root = ""
"""


def single(project, version):
    """The multi-version project as a patch from `version` alone."""
    text = re.sub(r"^from = \[.*\]$", 'from = "%s"' % version, project, flags=re.M)
    return re.sub(r"old = \{([^}]*)\}",
                  lambda m: 'old = "%s"' % dict(re.findall(r'"([\d.]+)" = "([^"]*)"', m.group(1)))[version],
                  text)


def resources_size(out):
    folder = os.path.join(out, "resources")
    return sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder)
               if n.endswith((".xml", ".bin")))


def build(mkpatch, project_file, out):
    r = subprocess.run([mkpatch, "build", project_file, "--out", out, "--resources-only", "--no-cache"],
                       capture_output=True, text=True)
    if r.returncode != 0:
        sys.exit("mkpatch failed on %s:\n%s%s" % (project_file, r.stdout, r.stderr))
    return r.stdout


def compare(mkpatch, project_file, work):
    project = open(project_file).read()
    starts = re.findall(r'"([\d.]+)"', re.search(r"^from = \[(.*)\]$", project, re.M).group(1))
    summary = build(mkpatch, project_file, os.path.join(work, "out-all"))
    together = resources_size(os.path.join(work, "out-all"))
    print(summary.splitlines()[1] if len(summary.splitlines()) > 1 else summary)
    separate = []
    for version in starts:
        one = os.path.join(os.path.dirname(project_file), "from-%s.toml" % version)
        with open(one, "w") as f:
            f.write(single(project, version))
        build(mkpatch, one, os.path.join(work, "out-" + version))
        separate.append(resources_size(os.path.join(work, "out-" + version)))
    print("separate patches: " + ", ".join("from %s %d bytes" % (v, s) for v, s in zip(starts, separate)))
    print("one patcher from %s: %d bytes; the %d separate patches: %d bytes; ratio %.3f (%.1f%% saved)"
          % (", ".join(starts), together, len(starts), sum(separate), together / sum(separate),
             100.0 * (1 - together / sum(separate))))


def generate(root, scale):
    rng = random.Random(2028)
    files = {}
    for i in range(int(2600 * scale)):
        size = min(int(rng.lognormvariate(9.5, 1.2)) + 1, 400_000)
        files["data/%03d/file%05d.bin" % (i % 97, i)] = random.Random(i).randbytes(size // 2) * 2
    for i in range(int(60 * scale)):
        files["textures/tex%04d.dds" % i] = random.Random(10_000 + i).randbytes(rng.randrange(1_000_000, 5_000_000))
    for i in range(2):
        files["archives/level%d.pak" % i] = random.Random(20_000 + i).randbytes(int(20_000_000 * scale)) * 2
    files["game.exe"] = random.Random(30_000).randbytes(int(8_000_000 * scale)) * 2
    versions = ["1.00", "1.01", "1.02", "1.03"]
    for step, version in enumerate(versions):
        if step:
            r = random.Random(step)
            names = sorted(files)
            for name in names:
                fate = r.random()
                large = name.startswith(("archives/", "game.exe"))
                if large or fate < 0.04:
                    data = bytearray(files[name])
                    for _ in range(50 if large else 3):
                        at = r.randrange(len(data))
                        data[at:at + 8] = r.randbytes(8)
                    files[name] = bytes(data)
                elif fate < 0.06:
                    del files[name]
            for i in range(int(80 * scale)):
                files["data/new%d/file%05d.bin" % (step, i)] = r.randbytes(r.randrange(1000, 60_000))
        for name, data in files.items():
            path = os.path.join(root, version, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
    starts = versions[:-1]
    project = os.path.join(root, "game.toml")
    with open(project, "w") as f:
        f.write("from = [%s]\nto = \"1.03\"\n" % ", ".join('"%s"' % v for v in starts) + HEADER +
                "old = { %s }\nnew = \"1.03\"\n" % ", ".join('"%s" = "%s"' % (v, v) for v in starts))
    return project


def main(argv):
    keep = "--keep" in argv
    argv = [a for a in argv if a != "--keep"]
    scale = float(argv[argv.index("--scale") + 1]) if "--scale" in argv else 1.0
    mkpatch = os.path.abspath(argv[0])
    if argv[1] == "demo":
        make_demo, work = argv[2], os.path.abspath(argv[3])
    else:
        make_demo, work = None, os.path.abspath(argv[2])
    shutil.rmtree(work, ignore_errors=True)
    try:
        if make_demo:
            subprocess.run([sys.executable, make_demo, os.path.join(work, "game")], check=True,
                           stdout=subprocess.DEVNULL)
            project = os.path.join(work, "game", "demo-versions.toml")
        else:
            project = generate(os.path.join(work, "game"), scale)
        compare(mkpatch, project, work)
    finally:
        if not keep:
            shutil.rmtree(work, ignore_errors=True)
    return 0


sys.exit(main(sys.argv[1:]))
