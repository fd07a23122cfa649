#!/usr/bin/env python3
"""Writes the demo game, versions 1.00, 1.01 and 1.02, and its patch projects into one folder.

usage: make_demo.py OUT

Layout written (each version's packs in folders of their own, as a studio keeps them):
  OUT/demo.toml                 the patch project (a copy of demo/demo.toml)
  OUT/demo-versions.toml        one patcher from 1.00 and from 1.01 to 1.02 (a copy)
  OUT/1.02/base, french, german     version 1.02, made from 1.01
  OUT/1.00/base, OUT/1.01/base      files below the installation folder
  OUT/1.00/french, OUT/1.01/french  files below local\\french
  OUT/1.00/german, OUT/1.01/german  files below local\\german
  OUT/art/*.png                     the patcher art (make_art.py)
  OUT/signing/test-*.pem            a self-signed test code-signing certificate and its key
Deterministic: the same script writes the same bytes on every run, except the test
certificate, which openssl makes anew when it is missing.
"""
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import zipfile


class Program:
    """An executable-like image: functions of x86-flavoured instructions whose calls carry
    relative offsets to other functions, a data section of strings and an absolute pointer
    table. A new version inserts and edits functions, so that every later call offset and
    pointer shifts, as a recompiled executable does."""

    OPS = [b"\x55", b"\x89\xe5", b"\x83\xec\x10", b"\x8b\x45\x08", b"\x01\xd0", b"\x5d",
           b"\x31\xc0", b"\x85\xc0", b"\x8b\x4d\x0c", b"\x89\x04\x24", b"\x0f\xaf\xc1"]

    def __init__(self, seed, count):
        rng = random.Random(seed)
        self.functions = [self._function(rng, count) for _ in range(count)]
        self.strings = [("message %d: %s" % (i, rng.choice(
            ["loading", "saving", "player joined", "texture missing", "network lost"]))).encode()
            for i in range(count // 4)]

    def _function(self, rng, count):
        body = []
        for _ in range(rng.randrange(8, 60)):
            kind = rng.random()
            if kind < 0.15:
                body.append(("call", rng.randrange(count)))
            elif kind < 0.25:
                body.append(("imm", rng.randrange(1 << 16)))
            else:
                body.append(("op", rng.choice(self.OPS)))
        return body

    def edit(self, seed):
        rng = random.Random(seed)
        count = len(self.functions)
        for _ in range(count // 40):           # bug fixes: a few instructions changed
            f = self.functions[rng.randrange(count)]
            f[rng.randrange(len(f))] = ("imm", rng.randrange(1 << 16))
        for _ in range(count // 60):           # new functions in the middle
            self.functions.insert(rng.randrange(count), self._function(rng, count))
        for i in range(0, len(self.strings), 17):
            self.strings[i] = self.strings[i] + b" (fixed)"

    def image(self, base=0x400000):
        starts, offset = [], 0x400
        for f in self.functions:
            starts.append(offset)
            offset += sum(5 if k in ("call", "imm") else len(v) for k, v in f) + 1
        code = bytearray()
        for index, f in enumerate(self.functions):
            for kind, value in f:
                here = 0x400 + len(code)
                if kind == "call":
                    target = starts[value % len(starts)]
                    code += b"\xe8" + struct.pack("<i", target - (here + 5))
                elif kind == "imm":
                    code += b"\xb8" + struct.pack("<I", value)
                else:
                    code += value
            code += b"\xc3"
        data = bytearray()
        pointers = []
        for s in self.strings:
            pointers.append(base + 0x400 + len(code) + len(data))
            data += s + b"\0"
        table = b"".join(struct.pack("<I", p) for p in pointers)
        table += b"".join(struct.pack("<I", base + s) for s in starts[::3])
        header = bytearray(b"MZ" + b"\0" * 0x3A + struct.pack("<I", 0x80))
        header += b"\0" * (0x80 - len(header)) + b"PE\0\0"
        header += struct.pack("<IIII", len(code), len(data), len(table), len(self.functions))
        header += b"\0" * (0x400 - len(header))
        return bytes(header + code + data + table)


def text_lines(seed, count, words):
    rng = random.Random(seed)
    return "".join(" ".join(rng.choice(words) for _ in range(rng.randrange(4, 12))) + "\n"
                   for _ in range(count)).encode()


def level(seed, size):
    """Tile data: runs of tiles with some noise, like a compressed-poorly level file."""
    rng = random.Random(seed)
    out = bytearray()
    while len(out) < size:
        out += bytes([rng.randrange(16)]) * rng.randrange(1, 40)
        out += rng.randbytes(rng.randrange(0, 12))
    return bytes(out[:size])


def menu_xml(language, entries, extra=()):
    items = "".join('  <item id="%d" text="%s"/>\n' % (i, t) for i, t in enumerate(entries + list(extra)))
    return ('<menu language="%s">\n%s</menu>\n' % (language, items)).encode("utf-8")


def scripts_zip(files):
    """A zip archive as many games keep their scripts: deflated with zlib at its default
    level (Python's zipfile), fixed time stamps, so that the same files give the same bytes."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in files.items():
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data)
    return buffer.getvalue()


def write(root, rel, data):
    path = os.path.join(root, *rel.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    out = sys.argv[1]
    for sub in ("1.00", "1.01", "1.02"):
        shutil.rmtree(os.path.join(out, sub), ignore_errors=True)
    words = ["the", "knight", "castle", "sword", "dragon", "gold", "quest", "village",
             "night", "storm", "ancient", "guard", "river", "path", "shadow"]

    game = Program(seed=100, count=9000)
    engine = Program(seed=200, count=5000)
    textures = random.Random(300).randbytes(600_000)          # incompressible, unchanged
    script_words = words + ["if", "then", "end", "local", "function", "return", "player"]
    old_scripts = {"scripts/%s.lua" % name: text_lines(500 + i, 400, script_words)
                   for i, name in enumerate(("main", "combat", "dialog", "inventory", "quests"))}
    new_scripts = dict(old_scripts)
    new_scripts["scripts/combat.lua"] = text_lines(600, 20, script_words) + old_scripts["scripts/combat.lua"]
    new_scripts["scripts/quests.lua"] = old_scripts["scripts/quests.lua"].replace(b"dragon", b"wyvern")
    new_scripts["scripts/level3.lua"] = text_lines(601, 200, script_words)   # added
    old_base = {
        "game.exe": game.image(),
        "engine.dll": engine.image(0x10000000),
        "data/textures.pak": textures,
        "data/levels/level1.dat": level(1, 150_000),
        "data/levels/level2.dat": level(2, 150_000),
        "data/levels/tutorial.dat": level(3, 60_000),
        "data/config/defaults.cfg": b"difficulty=2\nvolume=80\nlanguage_pack=1\nfov=075\n",
        "data/scripts.zip": scripts_zip(old_scripts),
        "readme.txt": text_lines(400, 300, words),
    }
    game.edit(seed=101)
    engine.edit(seed=201)
    level2 = bytearray(old_base["data/levels/level2.dat"])
    level2[70_000:70_000] = level(5, 20_000)                   # a new room inserted
    new_base = {
        "game.exe": game.image(),
        "engine.dll": engine.image(0x10000000),
        "data/textures.pak": textures,
        "data/levels/level1.dat": old_base["data/levels/level1.dat"],
        "data/levels/level2.dat": bytes(level2),
        "data/levels/level3.dat": level(4, 120_000),           # added
        # tutorial.dat is deleted in 1.01
        "data/config/defaults.cfg": b"difficulty=2\nvolume=70\nlanguage_pack=1\nfov=090\n",
        "data/scripts.zip": scripts_zip(new_scripts),   # entries changed inside the archive
        "readme.txt": old_base["readme.txt"] + text_lines(401, 40, words),
        "patch_history.txt": b"1.01\n- Fixed crashes when loading a saved game.\n"
                             b"- New room in level 2, new level 3.\n- Tutorial removed.\n",
    }
    assert len(old_base["data/config/defaults.cfg"]) == len(new_base["data/config/defaults.cfg"])

    fr = ["Nouvelle partie", "Charger", "Options", "Quitter"]
    de = ["Neues Spiel", "Laden", "Optionen", "Beenden"]
    old_french = {"strings/menu.xml": menu_xml("fr", fr),
                  "strings/credits.txt": "Équipe de traduction\n".encode("utf-8")}
    new_french = {"strings/menu.xml": menu_xml("fr", fr, ["Multijoueur"]),
                  "strings/credits.txt": old_french["strings/credits.txt"],
                  "strings/level3.txt": "Niveau 3 : la tempête\n".encode("utf-8")}
    old_german = {"strings/menu.xml": menu_xml("de", de),
                  "strings/tutorial.txt": "Willkommen zum Tutorium\n".encode("utf-8")}
    new_german = {"strings/menu.xml": menu_xml("de", de, ["Mehrspieler"]),
                  "strings/level3.txt": "Stufe 3: der Sturm\n".encode("utf-8")}

    # 1.02: the game rebuilt once more, level 1 (the same in 1.00 and 1.01) edited, level 3
    # reworked, level 4 and one more text added; a patcher from both versions stores the
    # level 1 diff and the added files once.
    game.edit(seed=102)
    level3 = bytearray(new_base["data/levels/level3.dat"])
    level3[30_000:30_000] = level(6, 8_000)
    level1 = bytearray(new_base["data/levels/level1.dat"])
    level1[90_000:90_010] = b"secret" * 2 + level1[90_002:90_010]
    base_102 = {**new_base,
                "game.exe": game.image(),
                "data/levels/level1.dat": bytes(level1),
                "data/levels/level3.dat": bytes(level3),
                "data/levels/level4.dat": level(7, 100_000),
                "data/config/defaults.cfg": b"difficulty=2\nvolume=70\nlanguage_pack=1\nfov=100\n",
                "patch_history.txt": new_base["patch_history.txt"] +
                b"1.02\n- Secret in level 1, level 3 reworked, new level 4.\n"}
    french_102 = {**new_french, "strings/menu.xml": menu_xml("fr", fr, ["Multijoueur", "Succès"])}
    german_102 = {**new_german, "strings/credits.txt": "Übersetzung\n".encode("utf-8")}

    for version, trees in (("1.00", (old_base, old_french, old_german)),
                           ("1.01", (new_base, new_french, new_german)),
                           ("1.02", (base_102, french_102, german_102))):
        for name, files in zip(("base", "french", "german"), trees):
            folder = os.path.join(out, version, name)
            os.makedirs(folder, exist_ok=True)
            for rel, data in files.items():
                write(folder, rel, data)
    here = os.path.dirname(os.path.abspath(__file__))
    subprocess.run([sys.executable, os.path.join(here, "make_art.py"), os.path.join(out, "art")],
                   check=True)
    make_test_certificate(os.path.join(out, "signing"))
    for project in ("demo.toml", "demo-versions.toml"):
        shutil.copyfile(os.path.join(here, project), os.path.join(out, project))


def make_test_certificate(folder):
    """A self-signed RSA certificate for code signing, valid for ten years; no password."""
    cert = os.path.join(folder, "test-certificate.pem")
    key = os.path.join(folder, "test-key.pem")
    if os.path.exists(cert) and os.path.exists(key):
        return
    os.makedirs(folder, exist_ok=True)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256",
                    "-days", "3650", "-subj", "/CN=Korax Demo Test Signing/O=Korax Interactive",
                    "-addext", "extendedKeyUsage=codeSigning",
                    "-addext", "keyUsage=critical,digitalSignature",
                    "-keyout", key, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


if __name__ == "__main__":
    main()
