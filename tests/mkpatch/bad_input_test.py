#!/usr/bin/env python3
"""Runs mkpatch on bad input and checks that each case is refused with exit code 2 and a
message naming the problem; also that the subcommands answer --help and that good input
still builds. usage: bad_input_test.py MKPATCH"""
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

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


def png(path, width, height, pixel, colour_type=6, depth=8):
    """Writes a PNG whose pixel(x, y) gives a tuple of samples (RGBA or RGB)."""
    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(width))
                    for y in range(height))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    data = (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
    write(path, data)
    return data


def read_png(path):
    """(width, height, rows of RGBA tuples) of an 8-bit RGBA PNG, any filters."""
    data = open(path, "rb").read()
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack_from(">I4s", data, pos)
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack_from(">IIBB", body)
            assert (depth, colour) == (8, 6), "not 8-bit RGBA"
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw, stride, rows, prev = zlib.decompress(idat), width * 4, [], bytearray(width * 4)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b, c = prev[i], prev[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[4 * x:4 * x + 4]) for x in range(width)])
        prev = line
    return width, height, rows


def check_skins(tmp, out):
    """The skin images: refusals naming file and rule, then a good set embedded and previewed."""
    art = os.path.join(tmp, "art")

    def background(x, y):  # opaque panel with see-through corners, like a real skin
        return (40, 60, 90, 0 if (x < 4 and y < 4) else 255)
    png(os.path.join(art, "splash.png"), 300, 80, lambda x, y: (200, 100, 50, 128 if x < 10 else 255))
    png(os.path.join(art, "window.png"), 519, 316, background)
    png(os.path.join(art, "item.png"), 463, 17, lambda x, y: (0, 200, 0), colour_type=2)
    png(os.path.join(art, "total.png"), 463, 17, lambda x, y: (0, 0, 200), colour_type=2)
    png(os.path.join(art, "rgba_bar.png"), 463, 17, lambda x, y: (0, 0, 200, 255))
    png(os.path.join(art, "tall_bar.png"), 463, 30, lambda x, y: (0, 0, 200), colour_type=2)
    png(os.path.join(art, "short_bar.png"), 400, 17, lambda x, y: (0, 0, 200), colour_type=2)
    png(os.path.join(art, "holed.png"), 519, 316,
        lambda x, y: (40, 60, 90, 0 if (x, y) == (40, 175) else 255))
    png(os.path.join(art, "small.png"), 400, 316, lambda x, y: (40, 60, 90, 255))
    png(os.path.join(art, "deep.png"), 20, 20, lambda x, y: (0, 0, 0, 0, 0, 0, 0, 0), depth=16)
    whole = open(os.path.join(art, "window.png"), "rb").read()
    write(os.path.join(art, "cut.png"), whole[:len(whole) // 2])

    def skin(**images):
        path = project(tmp)
        with open(path, "a") as f:
            f.write("[skin]\n" + "".join('%s = "art/%s"\n' % kv for kv in images.items()))
        return path
    for label, images, rule in (
            ("not a png", {"splash": "../p.toml"}, "skin.splash"),
            ("bar with alpha", {"item_bar": "rgba_bar.png"},
             "rgba_bar.png: must be an 8-bit RGB PNG (colour type 2, no alpha), but has colour type 6"),
            ("16-bit splash", {"splash": "deep.png"}, "at 16 bits per sample"),
            ("background without alpha", {"background": "item.png"},
             "must be an 8-bit RGBA PNG (colour type 6, with alpha)"),
            ("cut png", {"background": "cut.png"}, "cut.png: the patcher cannot decode it"),
            ("see-through text area", {"background": "holed.png"},
             "the status text area (columns 35 to 490, rows 168 to 179) must be fully opaque, "
             "but pixel (40, 175) has alpha 0"),
            ("narrow background", {"background": "small.png"}, "lies outside the 400 x 316 image"),
            ("tall item bar", {"background": "window.png", "item_bar": "tall_bar.png"},
             "the item bar may be at most 25"),
            ("short bar, own background", {"total_bar": "short_bar.png"},
             "without a skin.background of the project's own a bar must be 463 x 17"),
            ("missing", {"splash": "none.png"}, "skin.splash file not found")):
        expect(label, ["build", skin(**images), "--out", out], 2, rule)

    good = skin(splash="splash.png", background="window.png", item_bar="item.png",
                total_bar="total.png")
    expect("good skin", ["build", good, "--out", out, "--resources-only"], 0, "1 updated")
    rc = open(os.path.join(out, "resources", "patch_data.rc")).read()
    for i, name in ((102, "splash.png"), (103, "window.png"), (104, "item.png"), (105, "total.png")):
        copy = os.path.join(out, "resources", "%d.png" % i)
        if not os.path.exists(copy) or open(copy, "rb").read() != open(os.path.join(art, name), "rb").read():
            failures.append("skin %d was not copied beside the patch data" % i)
        if "#define VARD_PATCH_SKIN_%d\n%d DATA" % (i, i) not in rc:
            failures.append("patch_data.rc does not list skin %d" % i)

    preview = os.path.join(tmp, "preview")
    expect("preview", ["preview", good, "--out", preview], 0, "window-half.png")
    _, _, rows = read_png(os.path.join(preview, "window-half.png"))
    # Half-way: the bars' left 231 columns, the background after them, see-through corner.
    for (x, y), want, what in (((28 + 230, 204), (0, 200, 0, 255), "item bar end"),
                               ((28 + 231, 204), (40, 60, 90, 255), "after the item bar"),
                               ((28, 229), (0, 0, 200, 255), "total bar"),
                               ((1, 1), (0, 0, 0, 0), "transparent corner")):
        if rows[y][x] != want:
            failures.append("preview %s at %d,%d: %s, want %s" % (what, x, y, rows[y][x], want))
    _, _, rows = read_png(os.path.join(preview, "splash.png"))
    # Half-transparent pixels come back from the premultiplied frame within rounding.
    if rows[5][5][3] != 128 or max(abs(a - b) for a, b in zip(rows[5][5][:3], (200, 100, 50))) > 2:
        failures.append("preview splash half-transparent pixel %s" % (rows[5][5],))
    if rows[5][50] != (200, 100, 50, 255):
        failures.append("preview splash opaque pixel %s" % (rows[5][50],))

    # The other tables: version texts without control characters, signing files present.
    for label, table, rule in (
            ("control character", '[version_info]\nstudio = "A\\tB"\n',
             "version_info.studio contains a control character"),
            ("missing key", '[sign]\ncertificate = "art/splash.png"\nkey = "none.pem"\n',
             "sign.key file not found")):
        path = project(tmp)
        with open(path, "a") as f:
            f.write(table)
        expect(label, ["build", path, "--out", out], 2, rule)
    path = project(tmp)
    with open(path, "a") as f:
        f.write('[version_info]\nstudio = "Société \\"Nord\\""\nproduct = "Back\\\\slash"\n')
    expect("version info", ["build", path, "--out", out, "--resources-only"], 0, "1 updated")
    rc = open(os.path.join(out, "resources", "patch_data.rc"), encoding="utf-8").read()
    for line in ('VALUE "CompanyName", "Société ""Nord"""', 'VALUE "ProductName", "Back\\\\slash"',
                 'VALUE "FileDescription", "Back\\\\slash patch 1.00 to 1.01"'):
        if line not in rc:
            failures.append("patch_data.rc lacks %s" % line)


def check_output_folders(tmp):
    """--out apart from the pack folders; only mkpatch's own folder replaced."""
    base = os.path.join(tmp, "folders")
    write(os.path.join(base, "old", "resources", "data.pak"), b"old")
    write(os.path.join(base, "new", "resources", "data.pak"), b"new")
    os.symlink(os.path.join(base, "new"), os.path.join(base, "link"))
    path = project(base)
    for label, args, rule in (
            ("out is new", ["--out", os.path.join(base, "new")], "is the pack folder"),
            ("out through a link", ["--out", os.path.join(base, "link") + "/"], "is the pack folder"),
            ("out inside old", ["--out", os.path.join(base, "old", "patch")], "lies inside the pack folder"),
            ("out contains both", ["--out", base], "contains the pack folder")):
        expect(label, ["build", path, "--resources-only"] + args, 2, rule)
    for tree in ("old", "new"):
        pak = os.path.join(base, tree, "resources", "data.pak")
        if not os.path.exists(pak) or open(pak, "rb").read() != tree.encode():
            failures.append("a refused build changed %s/resources/data.pak" % tree)
    foreign = os.path.join(tmp, "foreign")
    write(os.path.join(foreign, "resources", "keep.txt"), b"mine")
    expect("foreign out", ["build", path, "--out", foreign, "--resources-only"], 2,
           "was not made by mkpatch")
    if not os.path.exists(os.path.join(foreign, "resources", "keep.txt")):
        failures.append("a build removed the resources folder of a folder it did not make")
    mine = os.path.join(tmp, "mine")
    os.makedirs(os.path.join(mine, "resources"))  # as a build system leaves it: empty folders
    for _ in range(2):  # the second build replaces the first one's resources
        expect("own out", ["build", path, "--out", mine, "--resources-only"], 0, "1 updated")
    if not os.path.exists(os.path.join(mine, ".mkpatch-output")):
        failures.append("the output folder carries no marker")


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
    expect("version zero", ["build", project(tmp, frm="0.00", to="0.01"), "--out", out], 2,
           "\"from\" version 0.00 reads as 0")
    for label, key, value, rule in (
            ("non-ASCII key", "SOFTWARE\\K\u00f3rax Studio\\Game", "Version", "registry.reg_version.key"),
            ("empty key", "", "Version", "empty key"),
            ("leading backslash", "\\SOFTWARE\\Korax", "Version", "begins with a backslash"),
            ("hive named", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Korax", "Version", "names a hive"),
            ("short hive", "hklm\\SOFTWARE", "Version", "names a hive"),
            ("empty value name", "SOFTWARE\\Korax", "", "registry.reg_version.value \"\": empty"),
            ("non-ASCII value", "SOFTWARE\\Korax", "Versi\u00f3n", "not ASCII")):
        path = project(tmp)
        text = open(path, encoding="utf-8").read().replace(
            "reg_version = { key = 'SOFTWARE\\Korax\\Demo', value = \"Version\" }",
            "reg_version = { key = '%s', value = \"%s\" }" % (key, value))
        open(path, "w", encoding="utf-8").write(text)
        expect(label, ["build", path, "--out", out], 2, rule)

    # Several starting versions: each named in the message with the pack it concerns.
    write(os.path.join(tmp, "old1", "a.txt"), b"old")

    def versions(frm, old):
        path = project(tmp, to="1.02")
        text = open(path, encoding="utf-8").read()
        with open(path, "w", encoding="utf-8") as f:
            f.write(text.replace('from = "1.00"', "from = " + frm).replace('old = "old"', "old = " + old))
        return path
    both = '{ "1.00" = "old", "1.01" = "old1" }'
    for label, frm, old, text in [
            ("listed twice", '["1.01", "1.00", "1.1"]', both, "starting version 1.1 is listed twice"),
            ("start equals to", '["1.00", "1.02"]', both, "not greater than \"from\" 1.02"),
            ("start above to", '["1.03", "1.00"]', both, "not greater than \"from\" 1.03"),
            ("old misses a start", '["1.00", "1.01"]', '{ "1.00" = "old" }',
             "language section 1, pack 1 (root \"\"): old has no folder for starting version 1.01"),
            ("old names another", '["1.00", "1.01"]', '{ "1.00" = "old", "1.01" = "old", "1.05" = "old" }',
             "pack 1 (root \"\"): old names version 1.05, which \"from\" does not list"),
            ("old not a table", '["1.00", "1.01"]', '"old"', "pack 1 (root \"\"): old must be a table"),
            ("empty from", '[]', '"old"', "\"from\" lists no version")]:
        expect(label, ["build", versions(frm, old), "--out", out], 2, text)
    # Shared by content (the same update of a.txt) and by bytes (b.txt added whole from
    # 1.00, replaced whole from 1.01): two payloads for four entries.
    several = os.path.join(tmp, "several")
    write(os.path.join(tmp, "new", "b.txt"), bytes(random.Random(1).randbytes(300)))
    write(os.path.join(tmp, "old1", "b.txt"), bytes(random.Random(2).randbytes(300)))
    expect("several starts", ["build", versions('["1.01", "1.00"]', both), "--out", several,
                              "--resources-only"], 0, "2 entries of later starting versions name")
    main = open(os.path.join(several, "resources", "5001.xml")).read()
    rc = [line.split()[0] for line in open(os.path.join(several, "resources", "patch_data.rc"))
          if " DATA " in line]
    if '<version from="1.00" to="1.02"/>' not in main or '<set from="1.01">' not in main:
        failures.append("several starts: main manifest %r" % main)
    if len(rc) != len(set(rc)) or len(rc) != 5:
        failures.append("several starts: resources listed %r (want 5001, two packs, two payloads)" % rc)
    os.remove(os.path.join(tmp, "new", "b.txt"))
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
    expect("trailing space", ["build", project(tmp, new="new2"), "--out", out, "--resources-only"], 2, "bad file name")
    write(os.path.join(tmp, "new3", "q?.txt"), b"x")
    expect("question mark", ["build", project(tmp, new="new3"), "--out", out, "--resources-only"], 2,
           "cannot be stored by Windows")
    for i, name in enumerate(("aux.dat", "COM\u00b9.txt", "lpt\u00b3", "nul .txt")):
        write(os.path.join(tmp, "dev%d" % i, name), b"x")
        expect("device name " + name, ["build", project(tmp, new="dev%d" % i), "--out", out,
                                       "--resources-only"], 2,
               "reserved device name")
    check_output_folders(tmp)

    # Save removal runs after every patch: a game file in a save folder without the keep
    # marker would be installed and deleted at once. Folders are found without regard to case.
    keep = b"slot" + b"\0\0\0\0\x26\x6b\x84\xf2"
    write(os.path.join(tmp, "saves", "Settings", "Profiles", "P1", "SaveGames", "slot1.sav"), b"x" * 20)
    write(os.path.join(tmp, "saves", "Settings", "Profiles", "p2", "savegames", "kept.sav"), keep)
    saves_out = os.path.join(tmp, "saves_out")
    r = run(["build", project(tmp, new="saves"), "--out", saves_out, "--resources-only"])
    if (r.returncode != 2 or "Settings/Profiles/P1/SaveGames/slot1.sav".replace("/", "\\") not in r.stderr
            or "keep marker" not in r.stderr or "kept.sav" in r.stderr):
        failures.append("save file: exit %d, %r" % (r.returncode, r.stderr))
    shutil.rmtree(os.path.join(tmp, "saves", "Settings", "Profiles", "P1"))
    write(os.path.join(tmp, "saves", "Settings", "Profiles", "loose.txt"), b"not in a save folder")
    expect("kept save", ["build", project(tmp, new="saves"), "--out", saves_out, "--resources-only"], 0,
           "2 added")

    if os.geteuid() != 0:  # root reads everything
        write(os.path.join(tmp, "new5", "locked.bin"), b"x")
        os.chmod(os.path.join(tmp, "new5", "locked.bin"), 0)
        expect("unreadable", ["build", project(tmp, new="new5"), "--out", out, "--resources-only"], 2, "cannot read file")
    os.makedirs(os.path.join(tmp, "new7"))
    os.mkfifo(os.path.join(tmp, "new7", "pipe"))
    expect("fifo", ["build", project(tmp, new="new7"), "--out", out, "--resources-only"], 2, "not a regular file")
    write(os.path.join(tmp, "new6", "dangling"), b"")
    os.remove(os.path.join(tmp, "new6", "dangling"))
    os.symlink(os.path.join(tmp, "missing-target"), os.path.join(tmp, "new6", "dangling"))
    expect("dangling link", ["build", project(tmp, new="new6"), "--out", out, "--resources-only"], 2, "")

    write(os.path.join(tmp, "old8", "maps", "level1.map"), b"x")
    write(os.path.join(tmp, "new8", "maps"), b"y")
    expect("folder becomes file", ["build", project(tmp, old="old8", new="new8"), "--out", out, "--resources-only"], 2,
           "cannot turn a folder into a file")
    # The patch data measured against the studio's own limit.
    expect("too large", ["build", project(tmp), "--out", out, "--resources-only",
                         "--max-patch-bytes", "100", "--json", os.path.join(tmp, "failed.json")],
           2, "more than the 100 bytes")
    # The refused build still reports its plan, marked as not written.
    page = open(os.path.join(out, "report.html"), encoding="utf-8").read()
    facts = json.load(open(os.path.join(tmp, "failed.json"), encoding="utf-8"))
    if "No patch written: the patch data takes" not in page or facts["result"] != "failed" \
            or facts["limit_bytes"] != 100 or not facts["entries"]:
        failures.append("the refused build's report does not say why: %s" % facts["failure"])
    # Payloads past the limit stop the encoding; the report holds what was made, largest first.
    write(os.path.join(tmp, "new9", "big.bin"), os.urandom(5000))
    write(os.path.join(tmp, "new9", "small.txt"), b"x")
    expect("payloads too large", ["build", project(tmp, new="new9"), "--out", out, "--resources-only",
                                  "--jobs", "1", "--max-patch-bytes", "1000", "--json",
                                  os.path.join(tmp, "failed.json")], 2, "payloads alone exceed 1000")
    facts = json.load(open(os.path.join(tmp, "failed.json"), encoding="utf-8"))
    if [e["subpath"] for e in facts["entries"] if e["kind"] == "added"] != ["/big.bin"] \
            or facts["files"]["not_encoded"] != 1:
        failures.append("the stopped build's report: %s" % facts)
    # The image bound may be lowered (forcing payloads into the overlay) but not raised.
    expect("image bound above loadable", ["build", project(tmp), "--out", out, "--max-image-bytes",
                                          "1048576001"], 2, "max-image-bytes")
    if os.path.exists(os.path.join(out, "resources")):
        failures.append("a refused patch left a resources folder")

    # More payloads than resource ids: 16 packs of 3784 added files each take 60 560 ids
    # (a manifest and a payload per file), so the folder is made once and named 16 times:
    # 60 535 files of their own took most of this test's time on a loaded machine.
    many = os.path.join(tmp, "many")
    os.makedirs(many)
    for i in range(3784):
        open(os.path.join(many, "f%d" % i), "wb").close()
    path = project(tmp, new="many", root="p0")
    with open(path, "a") as f:
        for i in range(1, 16):
            f.write("[[language.pack]]\nroot = 'p%d'\nold = \"old\"\nnew = \"many\"\n" % i)
    expect("too many payloads", ["build", path, "--out", out, "--resources-only"], 2,
           "the patch needs 60560 resources (pack manifests and payloads) but 16-bit ids allow "
           "only 60534")
    shutil.rmtree(many)

    expect("diff of a missing file", ["diff", os.path.join(tmp, "x"), os.path.join(tmp, "y"),
                                      os.path.join(tmp, "d")], 2, "cannot read file")
    write(os.path.join(tmp, "bad.diff"), b"\xa7\xa3\xfe\x10\x00\x00\x00")
    expect("bad diff", ["apply", os.path.join(tmp, "old", "a.txt"), os.path.join(tmp, "bad.diff"),
                        os.path.join(tmp, "n")], 2, "is not a valid diff")
    # Patchers are written into the stubs; a missing or foreign one is named at once.
    stubs = os.path.join(tmp, "stubs")
    expect("missing stubs", ["build", project(tmp), "--out", out, "--stubs", stubs], 2,
           os.path.join(stubs, "patcher-win32.exe") + " is missing")
    write(os.path.join(stubs, "patcher-win32.exe"), b"MZ" + b"\0" * 100)
    expect("damaged stub", ["build", project(tmp), "--out", out, "--stubs", stubs], 2,
           os.path.join(stubs, "patcher-win32.exe") + " is damaged")
    if [f for f in ("n", "n.mkpatch-part", "n.mkpatch-diff") if os.path.exists(os.path.join(tmp, f))]:
        failures.append("a refused apply left a file behind")
    # Both forms, by their first bytes; a refused apply leaves an existing file as it was.
    base = random.Random(5).randbytes(1200000)  # past 1 MiB, where only form 2 is tried
    write(os.path.join(tmp, "v1"), base)
    write(os.path.join(tmp, "v2"), base[:5000] + b"inserted" + base[5000:] + bytes(9000))
    for form in ("1", "2"):
        d = os.path.join(tmp, "v.diff" + form)
        expect("diff form " + form, ["diff", "--diff-format", form, os.path.join(tmp, "v1"),
                                     os.path.join(tmp, "v2"), d], 0, "form " + form)
        n = os.path.join(tmp, "v2." + form)
        expect("apply form " + form, ["apply", os.path.join(tmp, "v1"), d, n], 0, "form " + form)
        if open(n, "rb").read() != open(os.path.join(tmp, "v2"), "rb").read():
            failures.append("apply of form %s did not rebuild the new file" % form)
        write(os.path.join(tmp, "short"), base[:100])
        expect("apply to a short old file", ["apply", os.path.join(tmp, "short"), d, n], 2,
               "is not a valid diff")
        if open(n, "rb").read() != open(os.path.join(tmp, "v2"), "rb").read():
            failures.append("a refused apply changed the file already there")
        # --max-size caps what it rebuilds: just enough passes, one byte less stops the
        # decoder and leaves nothing.
        size = str(len(open(os.path.join(tmp, "v2"), "rb").read()))
        expect("apply form %s at its size" % form, ["apply", "--max-size", size,
                                                    os.path.join(tmp, "v1"), d, n + "x"], 0, "")
        expect("apply form %s below its size" % form,
               ["apply", "--max-size", str(int(size) - 1), os.path.join(tmp, "v1"), d, n + "y"],
               2, "more than %d bytes" % (int(size) - 1))
    # An archive pair applies in the third form; its old archive missing is named as such.
    words = random.Random(6)
    text = lambda n: " ".join(words.choice(("alpha", "beta", "gamma", "delta", str(words.random())))
                              for _ in range(n)).encode()
    entries = [text(20000), text(20000), text(20000)]
    for name, contents in (("a1.zip", entries), ("a2.zip", entries[:1] + [entries[1] + b"changed"] + entries[2:])):
        with zipfile.ZipFile(os.path.join(tmp, name), "w", zipfile.ZIP_DEFLATED) as z:
            for i, content in enumerate(contents):
                z.writestr("entry%d.txt" % i, content)
    d, n = os.path.join(tmp, "a.diff"), os.path.join(tmp, "a2.new")
    expect("diff of archives", ["diff", os.path.join(tmp, "a1.zip"), os.path.join(tmp, "a2.zip"), d],
           0, "form 3")
    expect("apply form 3", ["apply", os.path.join(tmp, "a1.zip"), d, n], 0, "form 3")
    if open(n, "rb").read() != open(os.path.join(tmp, "a2.zip"), "rb").read():
        failures.append("apply of form 3 did not rebuild the new archive")
    expect("apply form 3 without its old file", ["apply", os.path.join(tmp, "gone.zip"), d, n + "x"],
           2, "cannot read " + os.path.join(tmp, "gone.zip"))
    # A diff bomb: copy the whole 1 MiB old file and seek back, 400 times (5.6 KB of diff
    # for 400 MiB), compressed to a few hundred bytes.
    write(os.path.join(tmp, "big.old"), bytes(1 << 20))
    step = b"\xa7\xa3\xfe\x00\x10\x00\x00" + b"\xa7\xa2\xfe\x00\x10\x00\x00"
    write(os.path.join(tmp, "bomb.diff"), step * 400)
    write(os.path.join(tmp, "bomb.zdiff"), zlib.compress(step * 400, 9))
    for bomb, limit in (("bomb.diff", 3000000), ("bomb.zdiff", 3000000), ("bomb.zdiff", 1000)):
        expect("diff bomb " + bomb, ["apply", "--max-size", str(limit), os.path.join(tmp, "big.old"),
                                     os.path.join(tmp, bomb), os.path.join(tmp, "bomb.new")],
               2, "more than %d bytes" % limit)
    if [f for f in os.listdir(tmp) if f.startswith(("bomb.new", "v2.1y", "v2.2y"))]:
        failures.append("a capped apply left a file behind")
    expect("no subcommand", [], 2, "subcommand")
    expect("unknown option", ["build", "--bogus"], 2, "")
    for sub in ("build", "embed", "diff", "apply"):
        expect(sub + " --help", [sub, "--help"], 0, "Usage:")

    check_skins(tmp, out)
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
