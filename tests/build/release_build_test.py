#!/usr/bin/env python3
"""The demo patch built by mkpatch as a studio ships it, twice: from two copies of the
project in different folders into different output folders, with the two patcher stubs
in a folder of their own (--stubs). Checks:
  - a build starts no program but osslsigncode (through the shell): no compiler, no CMake;
  - reproducible: both builds give byte-identical unsigned patcher-win32.exe and
    patcher-win64.exe (written again from each resources folder by `mkpatch embed`), and
    no image holds a path of the source tree, the build folders or the project;
  - version information (check_pe.py) and the embedded patch and skin images;
  - signed: both patchers carry an Authenticode signature that osslsigncode verifies
    against the demo's test certificate;
  - the signed 64-bit patcher still finds its data and patches the demo under Wine.
usage: release_build_test.py MKPATCH WORK_DIR WIN32_STUB WIN64_STUB"""
import os
import re
import shutil
import subprocess
import sys
import time

from stub_folder import stub_folder

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
MKPATCH, WORK = sys.argv[1], os.path.abspath(sys.argv[2])
STUBS = {"win32": sys.argv[3], "win64": sys.argv[4]}
OBJDUMP = {"win32": "i686-w64-mingw32-objdump", "win64": "x86_64-w64-mingw32-objdump"}
failures = []


def run(args, **kw):
    print("$ " + " ".join(args), flush=True)
    return subprocess.run(args, **kw)


shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(WORK)
game1, game2 = os.path.join(WORK, "game"), os.path.join(WORK, "elsewhere", "game")
run([sys.executable, os.path.join(REPO, "demo", "make_demo.py"), game1], check=True)
shutil.copytree(game1, game2)  # the same project, certificate included, in another folder
stubs = stub_folder(WORK, STUBS)

unsigned = {}
for label, game in (("A", game1), ("B", game2)):
    out = os.path.join(WORK, "out-" + label)
    start = time.monotonic()
    # Every program the build starts: mkpatch itself, then osslsigncode only.
    trace = os.path.join(WORK, "trace-" + label)
    r = run(["strace", "-f", "-qq", "-e", "trace=execve", "-e", "signal=none", "-o", trace,
             MKPATCH, "build", os.path.join(game, "demo.toml"), "--out", out,
             "--stubs", stubs], stdout=subprocess.PIPE, text=True)
    seconds = time.monotonic() - start
    print(r.stdout + "build %s took %.1f s" % (label, seconds), flush=True)
    if r.returncode != 0:
        sys.exit("mkpatch build %s failed with exit code %d" % (label, r.returncode))
    with open(os.path.join(out, "report.html"), encoding="utf-8") as report:
        if "signed (Authenticode, SHA-256) with test-certificate.pem" not in report.read():
            failures.append("build %s: the build report does not say the patchers are signed" % label)
    started = {os.path.basename(m) for m in re.findall(r'execve\("([^"]+)"', open(trace).read())}
    if started - {"mkpatch", "sh", "osslsigncode"}:
        failures.append("build %s started %s" % (label, sorted(started)))
    for preset in ("win32", "win64"):
        copy = os.path.join(WORK, "unsigned-%s-%s.exe" % (label, preset))
        run([MKPATCH, "embed", os.path.join(out, "resources"), STUBS[preset], copy], check=True,
            stdout=subprocess.DEVNULL)
        unsigned[label, preset] = copy

certificate = os.path.join(game1, "signing", "test-certificate.pem")
for preset in ("win32", "win64"):
    a, b = open(unsigned["A", preset], "rb").read(), open(unsigned["B", preset], "rb").read()
    if a != b:
        first = next(i for i in range(min(len(a), len(b))) if a[i] != b[i]) if len(a) == len(b) else -1
        failures.append("%s: the two builds differ (sizes %d and %d, first difference at %d)"
                        % (preset, len(a), len(b), first))
    for path in (REPO, WORK, stubs, game1, game2):
        for form in (path.encode(), path.encode("utf-16-le"), path.replace("/", "\\").encode()):
            if form in a:
                failures.append("%s: the image holds the path %s" % (preset, path))
    exe = os.path.join(WORK, "out-A", "patcher-%s.exe" % preset)
    check = run([sys.executable, os.path.join(HERE, "check_pe.py"), OBJDUMP[preset], exe,
                 "--patch-rc", os.path.join(WORK, "out-A", "resources", "patch_data.rc"),
                 "--version", "CompanyName=Korax Interactive",
                 "--version", "ProductName=Korax Demo",
                 "--version", "FileDescription=Korax Demo patch 1.00 to 1.01",
                 "--version", "PatchFromVersion=1.00", "--version", "PatchToVersion=1.01",
                 "--file-version", "1.1.0.0", "--signed"])
    if check.returncode != 0:
        failures.append("%s: check_pe.py failed" % preset)
    verify = run(["osslsigncode", "verify", "-in", exe, "-CAfile", certificate],
                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if verify.returncode != 0:
        failures.append("%s: the signature does not verify:\n%s" % (preset, verify.stdout))

# The signed patcher applied to the demo 1.00 (French) under Wine, on a private X screen:
# the window tests may be reading the shared one.
private = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
patched = run([os.path.join(REPO, "demo", "run_demo_patch.sh"),
               os.path.join(WORK, "out-A", "patcher-win64.exe"), game1,
               os.path.join(WORK, "run-signed"), "french"], env=private)
if patched.returncode != 0:
    failures.append("the signed patcher-win64.exe did not patch the demo")

for f in failures:
    print("FAIL: " + f)
sys.exit(1 if failures else 0)
