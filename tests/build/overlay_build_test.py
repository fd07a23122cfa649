#!/usr/bin/env python3
"""The demo patch built with a low --max-image-bytes, so that most payloads go to the
patchers' overlay, signed as a studio ships it. Checks:
  - payloads are both embedded and in the overlay, which the trailer finds;
  - the signature covers the overlay: osslsigncode verifies the patcher, and no longer
    does once one byte of the overlay is changed;
  - the signed 64-bit patcher reads its overlay under Wine and patches the demo byte for
    byte;
  - a copy with one byte changed in each overlay payload ends in the error box with
    nothing touched.
usage: overlay_build_test.py MKPATCH WORK_DIR WIN32_STUB WIN64_STUB"""
import os
import shutil
import struct
import subprocess
import sys

from stub_folder import stub_folder

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
MKPATCH, WORK = sys.argv[1], os.path.abspath(sys.argv[2])
STUBS = {"win32": sys.argv[3], "win64": sys.argv[4]}
failures = []


def run(args, **kw):
    print("$ " + " ".join(args), flush=True)
    return subprocess.run(args, **kw)


def overlay_bounds(exe):
    """(start, end) of the overlay's payloads, found as the patcher finds them."""
    data = open(exe, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    directories = optional + (112 if struct.unpack_from("<H", data, optional)[0] == 0x20B else 96)
    certificates, size = struct.unpack_from("<II", data, directories + 4 * 8)
    end = certificates if size else len(data)
    start, magic = struct.unpack_from("<Q8s", data, end - 16)
    if magic != b"VardOvl1":
        return None
    return start, end - 16


shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(WORK)
game = os.path.join(WORK, "game")
run([sys.executable, os.path.join(REPO, "demo", "make_demo.py"), game], check=True)
stubs = stub_folder(WORK, STUBS)

out = os.path.join(WORK, "out")
run([MKPATCH, "build", os.path.join(game, "demo.toml"), "--out", out, "--stubs", stubs,
     "--max-image-bytes", "40000"], check=True)
resources = os.path.join(out, "resources")
listed = [line.split() for line in open(os.path.join(resources, "overlay.txt"))]
payloads = [n for n in os.listdir(resources) if n.endswith(".bin") and n != "version.bin"]
if not listed or len(listed) == len(payloads):
    failures.append("%d of %d payloads in the overlay: expected some, not all" % (len(listed), len(payloads)))

exe = os.path.join(out, "patcher-win64.exe")
bounds = overlay_bounds(exe)
certificate = os.path.join(game, "signing", "test-certificate.pem")
if bounds is None:
    sys.exit("FAIL: patcher-win64.exe has no overlay trailer")
start, end = bounds
last = listed[-1]
if end - start < int(last[0]) + int(last[1]):
    failures.append("the overlay (%d bytes) is shorter than its payloads" % (end - start))
verify = run(["osslsigncode", "verify", "-in", exe, "-CAfile", certificate],
             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
if verify.returncode != 0:
    failures.append("the signature does not verify:\n" + verify.stdout)
damaged = os.path.join(WORK, "damaged.exe")
shutil.copyfile(exe, damaged)
with open(damaged, "r+b") as f:
    for offset, size, _ in listed:
        f.seek(start + int(offset) + int(size) // 2)
        byte = f.read(1)
        f.seek(-1, 1)
        f.write(bytes([byte[0] ^ 0x20]))
verify = run(["osslsigncode", "verify", "-in", damaged, "-CAfile", certificate],
             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
if verify.returncode == 0:
    failures.append("the signature still verifies after the overlay was changed")

# Under Wine, on private X screens: the window tests may be reading the shared one.
private = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
script = os.path.join(REPO, "demo", "run_demo_patch.sh")
if run([script, exe, game, os.path.join(WORK, "run"), "french"], env=private).returncode != 0:
    failures.append("the patcher with an overlay did not patch the demo")
if run([script, damaged, game, os.path.join(WORK, "run-damaged"), "french", "--refused"],
       env=private).returncode != 0:
    failures.append("the patcher with a damaged overlay was not refused with nothing touched")

for f in failures:
    print("FAIL: " + f)
sys.exit(1 if failures else 0)
