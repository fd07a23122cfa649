#!/usr/bin/env python3
"""Runs mkpatch on bad input and checks that each case is refused with exit code 2 and a
message naming the problem; also that the subcommands answer --help and that good input
still builds. usage: bad_input_test.py MKPATCH"""
import os
import shutil
import subprocess
import sys
import tempfile

MKPATCH = sys.argv[1]
failures = []

PROJECT = """from = "{frm}"
to = "{to}"
[registry]
reg_path = {{ key = 'SOFTWARE\\Korax\\Demo', value = "InstallPath" }}
reg_version = {{ key = 'SOFTWARE\\Korax\\Demo', value = "Version" }}
reg_version2 = {{ key = 'SOFTWARE\\Korax\\Demo', value = "Version2" }}
reg_language = {{ key = 'SOFTWARE\\Korax\\Demo', value = "Language" }}
[[language]]
{name}
[[language.pack]]
root = '{root}'
old = "{old}"
new = "{new}"
"""


def project(tmp, frm="1.00", to="1.01", name="", root="", old="old", new="new"):
    path = os.path.join(tmp, "p.toml")
    with open(path, "w", encoding="utf-8") as f:
        f.write(PROJECT.format(frm=frm, to=to, name=name, root=root, old=old, new=new))
    return path


def run(args):
    return subprocess.run([MKPATCH] + args, capture_output=True, text=True)


def expect(label, args, code, text):
    r = run(args)
    out = r.stdout + r.stderr
    if r.returncode != code or text not in out:
        failures.append("%s: exit %d (want %d), output %r (want %r)" % (label, r.returncode, code, out, text))


def write(path, data=b"x"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


with tempfile.TemporaryDirectory() as tmp:
    out = os.path.join(tmp, "out")
    write(os.path.join(tmp, "old", "a.txt"), b"old")
    write(os.path.join(tmp, "new", "a.txt"), b"new")

    expect("missing project", ["build", os.path.join(tmp, "none.toml"), "--out", out], 2,
           "project file not found")
    expect("missing old folder", ["build", project(tmp, old="nowhere"), "--out", out], 2,
           "folder not found")
    expect("missing new folder", ["build", project(tmp, new="nowhere"), "--out", out], 2,
           "folder not found")
    expect("bad from", ["build", project(tmp, frm="1.x"), "--out", out], 2,
           "\"from\" version \"1.x\" is not major.minor")
    expect("bad to", ["build", project(tmp, to="2"), "--out", out], 2, "\"to\" version \"2\"")
    expect("same version", ["build", project(tmp, to="1.00"), "--out", out], 2,
           "is not greater than")
    expect("lower version", ["build", project(tmp, frm="1.10", to="1.9"), "--out", out], 2,
           "is not greater than")
    expect("unknown language", ["build", project(tmp, name='name = "French"'), "--out", out], 2,
           "unknown language name \"French\"")
    expect("dotdot root", ["build", project(tmp, root="local\\..\\x"), "--out", out], 2,
           "bad root")
    expect("colon root", ["build", project(tmp, root="c:\\x"), "--out", out], 2, "bad root")
    with open(os.path.join(tmp, "broken.toml"), "w") as f:
        f.write("from = \"1.00\nto=")
    expect("unparseable", ["build", os.path.join(tmp, "broken.toml"), "--out", out], 2,
           "project file")

    write(os.path.join(tmp, "new2", "bad name.txt "), b"x")
    expect("trailing space", ["build", project(tmp, new="new2"), "--out", out], 2, "bad file name")
    write(os.path.join(tmp, "new3", "q?.txt"), b"x")
    expect("question mark", ["build", project(tmp, new="new3"), "--out", out], 2,
           "cannot be stored by Windows")
    write(os.path.join(tmp, "new4", "aux.dat"), b"x")
    expect("device name", ["build", project(tmp, new="new4"), "--out", out], 2,
           "reserved device name")

    if os.geteuid() != 0:  # root reads everything
        write(os.path.join(tmp, "new5", "locked.bin"), b"x")
        os.chmod(os.path.join(tmp, "new5", "locked.bin"), 0)
        expect("unreadable", ["build", project(tmp, new="new5"), "--out", out], 2, "cannot read file")
    os.makedirs(os.path.join(tmp, "new7"))
    os.mkfifo(os.path.join(tmp, "new7", "pipe"))
    expect("fifo", ["build", project(tmp, new="new7"), "--out", out], 2, "not a regular file")
    write(os.path.join(tmp, "new6", "dangling"), b"")
    os.remove(os.path.join(tmp, "new6", "dangling"))
    os.symlink(os.path.join(tmp, "missing-target"), os.path.join(tmp, "new6", "dangling"))
    expect("dangling link", ["build", project(tmp, new="new6"), "--out", out], 2, "")

    write(os.path.join(tmp, "old8", "maps", "level1.map"), b"x")
    write(os.path.join(tmp, "new8", "maps"), b"y")
    expect("folder becomes file", ["build", project(tmp, old="old8", new="new8"), "--out", out], 2,
           "cannot turn a folder into a file")
    # The patch data measured against the limit, which may be lowered but not raised.
    expect("too large", ["build", project(tmp), "--out", out, "--resources-only",
                         "--max-patch-bytes", "100"], 2, "more than the 100 bytes")
    expect("limit above loadable", ["build", project(tmp), "--out", out, "--max-patch-bytes",
                                    "1048576001"], 2, "max-patch-bytes")
    if os.path.exists(os.path.join(out, "resources")):
        failures.append("a refused patch left a resources folder")

    # More payloads than resource ids: 60 535 files.
    many = os.path.join(tmp, "many")
    os.makedirs(many)
    for i in range(60535):
        open(os.path.join(many, "f%d" % i), "wb").close()
    expect("too many payloads", ["build", project(tmp, new="many"), "--out", out], 2,
           "16-bit ids allow only 60534")
    shutil.rmtree(many)

    expect("diff of a missing file", ["diff", os.path.join(tmp, "x"), os.path.join(tmp, "y"),
                                      os.path.join(tmp, "d")], 2, "cannot read file")
    write(os.path.join(tmp, "bad.diff"), b"\xa7\xa3\xfe\x10\x00\x00\x00")
    expect("bad diff", ["apply", os.path.join(tmp, "old", "a.txt"), os.path.join(tmp, "bad.diff"),
                        os.path.join(tmp, "n")], 2, "is not a valid diff")
    expect("no subcommand", [], 2, "subcommand")
    expect("unknown option", ["build", "--bogus"], 2, "")
    for sub in ("build", "diff", "apply"):
        expect(sub + " --help", [sub, "--help"], 0, "Usage:")

    with_skin = project(tmp)
    with open(with_skin, "a") as f:
        f.write('[skin]\nsplash = "p.toml"\n')
    expect("skin image", ["build", with_skin, "--out", out], 2, "not supported")
    write(os.path.join(tmp, "not.ico"), b"PNG not an icon at all....")
    with_icon = project(tmp)
    with open(with_icon, "a") as f:
        f.write('[skin]\nicon = "not.ico"\n')
    expect("bad icon", ["build", with_icon, "--out", out], 2, "not an .ico file")
    write(os.path.join(tmp, "good.ico"), b"\0\0\1\0\1\0" + b"\x10" * 16 + b"image")
    with_icon = project(tmp)
    with open(with_icon, "a") as f:
        f.write('[skin]\nicon = "good.ico"\n')
    expect("icon", ["build", with_icon, "--out", out, "--resources-only"], 0, "1 updated")
    if not os.path.exists(os.path.join(out, "resources", "101.ico")):
        failures.append("the project's icon was not written beside the patch data")

    expect("good build", ["build", project(tmp), "--out", out, "--resources-only"], 0,
           "1 updated")
    if os.path.exists(os.path.join(out, "resources", "101.ico")):
        failures.append("an icon of an earlier build stayed in the resources")
    if not os.path.exists(os.path.join(out, "resources", "5001.xml")):
        failures.append("good build wrote no main manifest")

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
