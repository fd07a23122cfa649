#!/usr/bin/env python3
"""Builds the demo patch on one thread and on two and checks that every resource is the
same byte for byte (only the resource script, which names its own folder, may differ).
usage: same_output_test.py MKPATCH MAKE_DEMO"""
import filecmp
import os
import subprocess
import sys
import tempfile

mkpatch, make_demo = sys.argv[1], sys.argv[2]
with tempfile.TemporaryDirectory() as tmp:
    demo = os.path.join(tmp, "demo")
    subprocess.run([sys.executable, make_demo, demo], check=True, capture_output=True)
    outs = []
    for jobs in ("1", "2"):
        out = os.path.join(tmp, "out" + jobs)
        subprocess.run([mkpatch, "build", os.path.join(demo, "demo.toml"), "--out", out,
                        "--resources-only", "--jobs", jobs], check=True, capture_output=True)
        outs.append(os.path.join(out, "resources"))
    names = sorted(n for n in os.listdir(outs[0]) if n != "patch_data.rc")
    if names != sorted(n for n in os.listdir(outs[1]) if n != "patch_data.rc"):
        sys.exit("FAIL the two builds wrote different resources")
    _, mismatch, errors = filecmp.cmpfiles(outs[0], outs[1], names, shallow=False)
    if mismatch or errors or len(names) < 10:
        sys.exit("FAIL resources differ between one and two threads: %s %s" % (mismatch, errors))
    print("%d resources identical" % len(names))
