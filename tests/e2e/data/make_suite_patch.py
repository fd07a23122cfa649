#!/usr/bin/env python3
"""Writes the small game of the whole-run scenarios (suite*.json), builds its patch with
mkpatch and writes the trees those scenarios install and expect.

usage: make_suite_patch.py MKPATCH OUT [DIFF_FORMAT]   (mkpatch --diff-format, default 2)

Written below OUT (deterministic: the same bytes on every run):
  game/1.00/<pack>, game/1.01/<pack>   the packs "base" and one per language
  suite.toml                           the patch project
  patch/resources/                     what `mkpatch build --resources-only` wrote
  trees/installed                      version 1.00: base plus every language's pack
  trees/expected_<language>            after a successful run for that language: base and
                                       that language's pack at 1.01, the other packs at 1.00
  trees/after_lock_french              a French run that stopped at the locked
                                       local\\french\\text.dat: everything before it applied
  versions/                            one patcher from 1.00 and from 1.02 to 1.03 of the base
                                       pack: its game, project, patch/resources and the trees
                                       installed_1.00, installed_1.02 and expected
The game is a few KB, so that a run spends its time in the splash, not in the files.
"""
import os
import random
import shutil
import subprocess
import sys

LANGUAGES = ["english", "french", "german", "spanish", "italian"]


def noise(seed, size):
    return random.Random(seed).randbytes(size)


def edited(data, seed):
    """A new version of a file: a few bytes changed and a block inserted, so that mkpatch
    stores it as a diff."""
    rng = random.Random(seed)
    out = bytearray(data)
    for _ in range(8):
        out[rng.randrange(len(out))] = rng.randrange(256)
    at = rng.randrange(len(out))
    return bytes(out[:at]) + noise(seed + 1, 300) + bytes(out[at:])


def executable(version):
    """game.exe: a PE file whose one code section is full of calls to its first KB. The new
    version has 300 bytes inserted into the code, so every later call's relative target
    changes while the address it calls does not: mkpatch carries it as a form 2 diff with
    branch targets made absolute, which the patcher undoes as it writes."""
    rng = random.Random(1)
    code, calls = bytearray(), []
    while len(code) < 5600:
        code += noise(rng.randrange(1 << 30), rng.randrange(1, 8)).replace(b"\xe8", b"\x90")
        if rng.randrange(3) == 0:
            calls.append(len(code))
            code += b"\xe8" + ((rng.randrange(1024) - len(code) - 5) & 0xFFFFFFFF).to_bytes(4, "little")
    if version != "1.00":
        at = 3000
        for call in calls:
            if call >= at:
                rel = int.from_bytes(code[call + 1:call + 5], "little")
                code[call + 1:call + 5] = ((rel - 300) & 0xFFFFFFFF).to_bytes(4, "little")
        code[at:at] = noise(5, 300).replace(b"\xe8", b"\x90")
    header = bytearray(0x400)
    header[0:2] = b"MZ"
    header[0x3C:0x40] = (0x80).to_bytes(4, "little")
    header[0x80:0x84] = b"PE\0\0"
    header[0x86] = 1        # one section
    header[0x94] = 0xF0     # optional header size
    section = 0x80 + 24 + 0xF0
    for offset, value in ((8, len(code)), (12, 0x1000), (16, len(code)), (20, 0x400),
                          (36, 0x60000020)):  # code, executable, readable
        header[section + offset:section + offset + 4] = value.to_bytes(4, "little")
    return bytes(header + code)


def base_pack(version):
    files = {
        "game.exe": executable(version),
        "data/levels/level1.dat": noise(2, 3000),
        "data/unchanged.dat": noise(3, 1500),
        "readme.txt": b"KORAX suite game\r\nversion 1.00\r\n",
    }
    if version == "1.00":
        files["data/old_only.dat"] = noise(4, 700)
        # Folders the new version no longer has: the patcher removes them once empty.
        files["data/retired/old_level.dat"] = noise(7, 500)
        files["data/retired_mods/old_mod.dat"] = noise(8, 400)
    else:
        files["data/levels/level1.dat"] = noise(6, 3500)
        # Text compresses: the payload is stored deflated and inflated by the patcher.
        files["data/levels/level2.dat"] = b"".join(
            b"row %04d: wall wall floor floor door\r\n" % i for i in range(120))
        files["data/new folder/notes.txt"] = "Notes in a new folder\r\n".encode()
        files["readme.txt"] = b"KORAX suite game\r\nversion 1.01: fixes\r\n"
    return files


def language_pack(language, version):
    seed = 100 * (LANGUAGES.index(language) + 1)
    text = ("%s texts " % language).encode() + noise(seed, 2000)
    files = {"text.dat": text}
    if version == "1.00":
        files["obsolete.dat"] = noise(seed + 1, 400)
    else:
        files["text.dat"] = edited(text, seed + 2)
        files["voice/intro.dat"] = noise(seed + 3, 900)
    return files


def write_tree(folder, files):
    for name, data in files.items():
        path = os.path.join(folder, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def installation(packs):
    """Files of an installed game: {pack: version} -> {path below the install folder: bytes}."""
    files = {}
    for pack, version in packs.items():
        pack_files = base_pack(version) if pack == "base" else language_pack(pack, version)
        prefix = "" if pack == "base" else "local/%s/" % pack
        files.update({prefix + name: data for name, data in pack_files.items()})
    return files


PROJECT = """from = "1.00"
to = "1.01"

[registry]
reg_path = { key = 'SOFTWARE\\Vard Suite\\KORAX', value = "InstallPath" }
reg_version = { key = 'SOFTWARE\\Vard Suite\\KORAX', value = "Version" }
reg_version2 = { key = 'SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VardSuite', value = "DisplayVersion" }
reg_language = { key = 'SOFTWARE\\Vard Suite\\KORAX', value = "Language" }

[[language]]
[[language.pack]]
root = ""
old = "game/1.00/base"
new = "game/1.01/base"
"""

SECTION = """
[[language]]
name = "{0}"
[[language.pack]]
root = 'local\\{0}'
old = "game/1.00/{0}"
new = "game/1.01/{0}"
"""


def versions_pack(version):
    """The base pack in the versions of the patcher for several starting versions: 1.00 and
    1.03 as the suite's 1.00 and 1.01; 1.02 shares some files with each and has its own."""
    if version != "1.02":
        return base_pack("1.00" if version == "1.00" else "1.01")
    files = dict(base_pack("1.01"))
    files["game.exe"] = base_pack("1.00")["game.exe"]
    files["data/levels/level1.dat"] = edited(files["data/levels/level1.dat"], 7)
    files["data/mid_only.dat"] = noise(8, 600)
    del files["data/new folder/notes.txt"]
    return files


VERSIONS_PROJECT = PROJECT.replace('from = "1.00"\nto = "1.01"', 'from = ["1.00", "1.02"]\nto = "1.03"').replace(
    'old = "game/1.00/base"\nnew = "game/1.01/base"',
    'old = { "1.00" = "game/1.00", "1.02" = "game/1.02" }\nnew = "game/1.03"')


def build_versions(mkpatch, out, diff_format):
    for version in ("1.00", "1.02", "1.03"):
        write_tree(os.path.join(out, "game", version), versions_pack(version))
    # Folders change too: 1.03 holds an empty folder that both sets create, and the set from
    # 1.00 removes the folders that held only its deleted files.
    os.makedirs(os.path.join(out, "game", "1.03", "data", "empty", "inner"))
    project = os.path.join(out, "versions.toml")
    with open(project, "w") as f:
        f.write(VERSIONS_PROJECT)
    subprocess.run([mkpatch, "build", project, "--out", os.path.join(out, "patch"),
                    "--resources-only", "--diff-format", diff_format], check=True,
                   stdout=subprocess.DEVNULL)
    for version in ("1.00", "1.02"):
        write_tree(os.path.join(out, "trees", "installed_" + version), versions_pack(version))
    write_tree(os.path.join(out, "trees", "expected"), versions_pack("1.03"))


def main():
    mkpatch, out = sys.argv[1], sys.argv[2]
    diff_format = sys.argv[3] if len(sys.argv) > 3 else "2"
    if os.path.exists(out):
        shutil.rmtree(out)
    for version in ("1.00", "1.01"):
        write_tree(os.path.join(out, "game", version, "base"), base_pack(version))
        if version == "1.01":  # a folder the new version holds empty
            os.makedirs(os.path.join(out, "game", version, "base", "data", "empty", "inner"))
        for language in LANGUAGES:
            write_tree(os.path.join(out, "game", version, language),
                       language_pack(language, version))
    project = os.path.join(out, "suite.toml")
    with open(project, "w") as f:
        f.write(PROJECT + "".join(SECTION.format(language) for language in LANGUAGES))
    subprocess.run([mkpatch, "build", project, "--out", os.path.join(out, "patch"),
                    "--resources-only", "--diff-format", diff_format], check=True,
                   stdout=subprocess.DEVNULL)
    if diff_format != "1":
        # The whole runs are where the patcher undoes branch targets: make sure it has to.
        exe = [os.path.join(out, "game", v, "base", "game.exe") for v in ("1.00", "1.01")]
        diff = os.path.join(out, "game.exe.diff")
        subprocess.run([mkpatch, "diff", "--diff-format", "2", *exe, diff], check=True,
                       stdout=subprocess.DEVNULL)
        with open(diff, "rb") as f:
            head = f.read(12)
        if head[:4] != b"VDF2" or not head[11] & 2:
            sys.exit("game.exe no longer travels with branch targets; adjust executable()")

    trees = os.path.join(out, "trees")
    old = {"base": "1.00", **{language: "1.00" for language in LANGUAGES}}
    write_tree(os.path.join(trees, "installed"), installation(old))
    for language in LANGUAGES:
        write_tree(os.path.join(trees, "expected_" + language),
                   installation({**old, "base": "1.01", language: "1.01"}))
    # The French pack applies its added file before its updated text.dat; the run stops
    # there, so obsolete.dat (deleted last) is still in place.
    stopped = installation({**old, "base": "1.01"})
    stopped["local/french/voice/intro.dat"] = language_pack("french", "1.01")["voice/intro.dat"]
    write_tree(os.path.join(trees, "after_lock_french"), stopped)
    build_versions(mkpatch, os.path.join(out, "versions"), diff_format)


if __name__ == "__main__":
    main()
