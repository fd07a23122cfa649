#!/usr/bin/env python3
"""Runs one case of an end-to-end scenario file under Wine and checks what the player saw.

usage: run_scenario.py --work DIR --vardplay EXE --strip STRIP --program NAME=EXE...
                       SCENARIO.json CASE [--keep]

The case is the file's "base" merged with the case's own object (objects merge key by key,
everything else is replaced). It runs in a private copy of the build folder's template
prefix, with its own LANG and display; the copy is deleted when the case passes and kept
(its path is printed) when it fails, or always with --keep. See README.md for the format.
"""
import argparse
import copy
import json
import lzma
import os
import shutil
import subprocess
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import screenshots  # noqa: E402
import wine_env  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
BUTTONS = {"ok": 1, "cancel": 2, "abort": 3, "retry": 4, "ignore": 5, "yes": 6, "no": 7}
REG_TYPES = {"sz": 1, "expand_sz": 2, "binary": 3, "dword": 4, "multi_sz": 7}
# Where the program under test lives inside the prefix (a real copy, stripped, with the
# scenario's resources embedded).
EXE_DIR = "vard"
# Data generated at build time (the suite's game and its patch made by mkpatch) lives below
# the work folder's "built"; CONTENT {"built": ...}, trees and resource folders name it.
BUILT = {"dir": ""}


def merge(base, over):
    out = copy.deepcopy(base)
    for key, value in over.items():
        if isinstance(value, dict) and isinstance(out.get(key), dict):
            out[key] = merge(out[key], value)
        else:
            out[key] = copy.deepcopy(value)
    return out


def content_bytes(spec, scenario_dir):
    """Bytes of a file or resource from its description (see README.md)."""
    if isinstance(spec, str):
        spec = {"text": spec}
    if "text" in spec:
        data = spec["text"].encode("utf-8")
    elif "hex" in spec:
        data = bytes.fromhex(spec["hex"])
    elif "file" in spec:
        with open(os.path.join(scenario_dir, spec["file"]), "rb") as f:
            data = f.read()
    elif "built" in spec:
        with open(os.path.join(BUILT["dir"], spec["built"]), "rb") as f:
            data = f.read()
    elif "zeros" in spec:  # with "zlib": a small stream that inflates to many bytes
        data = bytes(spec["zeros"])
    elif "size" in spec:  # deterministic filler: a simple LCG seeded by "seed"
        state, out = spec.get("seed", 1) & 0xFFFFFFFF, bytearray(spec["size"])
        for i in range(len(out)):
            state = (state * 1103515245 + 12345) & 0xFFFFFFFF
            out[i] = state >> 24
        data = bytes(out)
    else:
        raise ValueError("cannot tell the content of %r" % (spec,))
    data *= spec.get("repeat", 1)
    for old, new in spec.get("replace", {}).items():
        data = data.replace(old.encode("utf-8"), new.encode("utf-8"))
    if spec.get("zlib"):
        data = zlib.compress(data, 9)
    if spec.get("xz"):  # a 1 MiB dictionary, well inside the patcher's decoder limit
        data = lzma.compress(data, format=lzma.FORMAT_XZ, check=lzma.CHECK_CRC32, preset=1)
    return data


def unix_path(prefix, windows_path):
    """C:\\a\\b -> PREFIX/drive_c/a/b (only drive C is used by scenarios)."""
    drive, _, rest = windows_path.partition(":")
    if drive.upper() != "C":
        raise ValueError("scenario paths must be on drive C: " + windows_path)
    parts = [p for p in rest.replace("\\", "/").split("/") if p]
    return os.path.join(prefix, "drive_c", *parts)


def registry_data(entry):
    kind = entry.get("type", "sz")
    if "hex" in entry:
        return bytes.fromhex(entry["hex"])
    data = entry["data"]
    if kind in ("sz", "expand_sz"):
        return (data + "\0").encode("utf-16-le")
    if kind == "multi_sz":
        return ("\0".join(data) + "\0\0").encode("utf-16-le")
    if kind == "dword":
        return (data & 0xFFFFFFFF).to_bytes(4, "little")
    if kind == "binary":
        return data.encode("utf-8") if isinstance(data, str) else bytes(data)
    raise ValueError("unknown registry type " + kind)


def answer_id(answer):
    return answer if isinstance(answer, int) else BUTTONS[answer]


def make_script(case, program_path):
    lines = []
    for entry in case.get("registry", []):
        kind = entry.get("type", "sz")
        if kind == "absent":
            lines.append(["reg_delete", entry["key"], entry["value"]])
        elif kind == "absent_key":
            lines.append(["reg_delete_key", entry["key"]])
        else:
            type_field = REG_TYPES.get(kind, kind)
            lines.append(["reg_set", str(type_field), entry["key"], entry["value"],
                          registry_data(entry).hex()])
    for m in case.get("mutexes", []):
        lines.append(["mutex", m["name"], str(m.get("release_at_box", 0))])
    for h in case.get("held_files", []):
        lines.append(["hold_file", h["path"], str(h.get("release_at_box", 0))])
    lines.append(["run", program_path])
    for i, answer in enumerate(case.get("answers", []), start=1):
        lines.append(["answer", str(i), str(answer_id(answer))])
    if "kill_at_box" in case:
        lines.append(["kill_at_box", str(case["kill_at_box"])])
    if "kill_when_gone" in case:
        lines.append(["kill_when_gone", case["kill_when_gone"]])
    if "timeout_ms" in case:
        lines.append(["timeout_ms", str(case["timeout_ms"])])
    for shot in case.get("screenshots", []):
        if "box" in shot:
            lines.append(["shot_box", str(shot["box"]), shot["path"]])
        else:
            lines.append(["shot_at", str(shot["at_ms"]), shot["path"]])
    for entry in case.get("expect", {}).get("registry", []):
        lines.append(["read_reg", entry["key"], entry["value"]])
    return "".join("\t".join(f) + "\n" for f in lines)


class Checker:
    def __init__(self, texts, language):
        self.texts, self.language, self.failures = texts, str(language), []

    def text(self, expected, language=None):
        """A text id (number) in the expected language, or a literal text."""
        if isinstance(expected, int):
            return self.texts[str(language if language is not None else self.language)][
                str(expected)]
        return expected

    def same(self, what, expected, actual):
        if expected != actual:
            self.failures.append("%s:\n    expected %s\n    actual   %s"
                                 % (what, json.dumps(expected, ensure_ascii=False),
                                    json.dumps(actual, ensure_ascii=False)))

    def boxes(self, expected, actual):
        shown = [b["caption"] + " | " + b["text"] for b in actual]
        if len(expected) != len(actual):
            self.same("number of message boxes (seen: %s)" % shown, len(expected), len(actual))
        for i, (want, got) in enumerate(zip(expected, actual), start=1):
            lang = want.get("language")
            for field in ("caption", "text"):
                self.same("box %d %s" % (i, field), self.text(want[field], lang), got[field])
            self.same("box %d buttons" % i,
                      [[BUTTONS[k], self.text(v, lang)] for k, v in want["buttons"].items()],
                      [[b["id"], b["label"]] for b in got["buttons"]])
            for field in ("icon", "topmost", "owner_class"):
                if field in want:
                    self.same("box %d %s" % (i, field), want[field], got[field])
            if "after_previous_ms" in want and i > 1:
                # From the last moment the previous box was seen still up (its call had
                # not returned, so the program's wait had not begun) to the first moment
                # this one was seen: never shorter than the program's wait.
                gap = got["shown_ms"] - actual[i - 2]["open_ms"]
                if gap < want["after_previous_ms"]:
                    self.same("box %d shown at least %d ms after box %d closed"
                              % (i, want["after_previous_ms"], i - 1),
                              ">= %d" % want["after_previous_ms"], gap)

    def registry(self, expected, actual):
        for want, got in zip(expected, actual):
            what = "registry %s\\%s" % (want["key"], want["value"])
            if want.get("type") == "absent":
                self.same(what + " present", False, got["present"])
                continue
            self.same(what + " present", True, got["present"])
            if not got["present"]:
                continue
            self.same(what + " type", REG_TYPES.get(want.get("type", "sz")), got["type"])
            self.same(what + " bytes", registry_data(want).hex(), got["hex"])

    def trees(self, expected, prefix):
        """Folders that must hold exactly the files of a built folder, byte for byte
        (paths listed in "ignore", relative to the folder, are left out on both sides)."""
        for path, spec in expected.items():
            ignore = set(spec.get("ignore", []))
            want = tree_files(os.path.join(BUILT["dir"], spec["built"]), ignore)
            got = tree_files(unix_path(prefix, path), ignore)
            self.same(path + ": files missing", [], sorted(set(want) - set(got)))
            self.same(path + ": files not expected", [], sorted(set(got) - set(want)))
            differ = [name for name in sorted(set(want) & set(got)) if want[name] != got[name]]
            self.same(path + ": files with other bytes", [], differ)

    def files(self, expected, prefix, scenario_dir):
        for path, spec in expected.items():
            real = unix_path(prefix, path)
            if spec == "absent" or (isinstance(spec, dict) and spec.get("absent")):
                self.same(path + " exists", False, os.path.lexists(real))
            elif spec == "dir":
                self.same(path + " is a folder", True, os.path.isdir(real))
            elif not os.path.isfile(real):
                self.same(path + " exists", True, False)
            else:
                with open(real, "rb") as f:
                    data = f.read()
                want = content_bytes(spec, scenario_dir)
                if data != want:
                    self.same(path + " bytes (size, first bytes)",
                              [len(want), want[:32].hex()], [len(data), data[:32].hex()])

    def pixels(self, expected, prefix):
        shots = {}
        for want in expected:
            path = want["path"]
            try:
                shot = shots.setdefault(path, screenshots.Shot(unix_path(prefix, path)))
            except (OSError, ValueError) as e:
                self.failures.append("screenshot %s: %s" % (path, e))
                continue
            got = shot.pixel(want["x"], want["y"])
            tolerance = want.get("tolerance", 0)
            if any(abs(a - b) > tolerance for a, b in zip(want["rgb"], got)):
                self.same("pixel %d,%d of %s (tolerance %d)" % (want["x"], want["y"], path,
                                                                  tolerance),
                          want["rgb"], list(got))


def tree_files(root, ignore):
    """{relative path with '/': bytes} of every file below root (empty when it is missing)."""
    files = {}
    for folder, dirs, names in os.walk(root):
        relative = os.path.relpath(folder, root)
        relative = "" if relative == "." else relative.replace(os.sep, "/") + "/"
        dirs[:] = [d for d in dirs if relative + d not in ignore]
        for name in names:
            if relative + name not in ignore:
                with open(os.path.join(folder, name), "rb") as f:
                    files[relative + name] = f.read()
    return files


def check_report(case, report, prefix, scenario_dir, texts):
    """What differs between one run's report and files and the case's expectations."""
    check = Checker(texts, case.get("text_language", 0))
    expect = case.get("expect", {})
    check.same("timed out", expect.get("timed_out", False), report["timed_out"])
    if "exit_code" in expect:
        check.same("exit code", expect["exit_code"] & 0xFFFFFFFF, report["exit_code"])
    check.boxes(expect.get("boxes", []), report["boxes"])
    check.registry(expect.get("registry", []), report["registry"])
    check.files(expect.get("files", {}), prefix, scenario_dir)
    check.trees(expect.get("trees", {}), prefix)
    check.pixels(expect.get("pixels", []), prefix)
    classes = [w["class"] for w in report["windows"]]
    for cls in expect.get("no_windows", []):
        check.same("window of class %s seen" % cls, False, cls in classes)
    for cls in expect.get("windows", []):
        check.same("window of class %s seen" % cls, True, cls in classes)
    return report["errors"] + check.failures


def later_runs(case):
    """The case's "then" (one run or a list of them): the same program started again in the
    same prefix once the run before has ended. Each keeps the first run's language,
    environment and program; registry writes, held mutexes and files, answers and
    expectations are its own."""
    kept = {k: case[k] for k in ("lang", "env", "text_language", "program") if k in case}
    then = case.get("then", [])
    return [merge(kept, run) for run in (then if isinstance(then, list) else [then])]


def wine(command, env, log, timeout):
    """Runs a Wine command with its output in a log file: a pipe would also be inherited
    by the wineserver and Wine's services, which outlive the command by seconds."""
    with open(log, "w") as out:
        code = subprocess.run(command, env=env, stdout=out, stderr=subprocess.STDOUT,
                              timeout=timeout).returncode
    with open(log, errors="replace") as f:
        return code, f.read().strip()


def run_case(args, scenario_file, case_name):
    with open(scenario_file, encoding="utf-8") as f:
        scenario = json.load(f)
    case = merge(scenario.get("base", {}), scenario["cases"][case_name])
    scenario_dir = os.path.dirname(os.path.abspath(scenario_file))
    with open(os.path.join(HERE, "texts.json"), encoding="utf-8") as f:
        texts = json.load(f)
    programs = dict(p.split("=", 1) for p in args.program)

    name = os.path.splitext(os.path.basename(scenario_file))[0] + "." + case_name
    work = os.path.abspath(args.work)
    BUILT["dir"] = os.path.join(work, "built")
    template = wine_env.template_prefix(work)
    prefix = os.path.join(work, "runs", name)
    wine_env.copy_prefix(template, prefix)

    # Game files and folders, straight into the prefix's drive.
    for folder in case.get("folders", []):
        os.makedirs(unix_path(prefix, folder), exist_ok=True)
    # Whole built folders first, so that the case's files may replace some of theirs.
    for path, spec in case.get("trees", {}).items():
        shutil.copytree(os.path.join(BUILT["dir"], spec["built"]), unix_path(prefix, path),
                        dirs_exist_ok=True)
    for path, spec in case.get("files", {}).items():
        real = unix_path(prefix, path)
        os.makedirs(os.path.dirname(real), exist_ok=True)
        with open(real, "wb") as f:
            f.write(content_bytes(spec, scenario_dir))
    # Links planted in the game's folders: Unix symbolic links, which Wine shows as reparse
    # points when they name a folder (Wine makes no junctions, and CreateSymbolicLinkW
    # creates nothing).
    for path, target in case.get("links", {}).items():
        real = unix_path(prefix, path)
        os.makedirs(os.path.dirname(real), exist_ok=True)
        os.makedirs(unix_path(prefix, target), exist_ok=True)
        os.symlink(unix_path(prefix, target), real)

    # The program under test: a stripped copy (Wine's resource update cannot keep a COFF
    # symbol table valid), then the scenario's "DATA" resources embedded by vardplay.
    exe_dir = os.path.join(prefix, "drive_c", EXE_DIR)
    os.makedirs(exe_dir, exist_ok=True)
    program = case.get("program", "patcher")
    source = os.path.join(exe_dir, "original.exe")
    subprocess.run([args.strip, "-o", source, programs[program]], check=True)
    exe_windows = "C:\\%s\\%s.exe" % (EXE_DIR, program)

    env = wine_env.base_env(prefix)
    env.update({k: v for k, v in case.get("env", {}).items()})
    env["LANG"] = case.get("lang", "en_US.UTF-8")
    locales = wine_env.locale_dir(work, env["LANG"])
    if locales:
        env["LOCPATH"] = locales
    # Every case gets its own screen by default: cases running in parallel must not see
    # (or read the pixels of) each other's boxes and windows.
    display = wine_env.Display(private=case.get("private_display", True))
    env["DISPLAY"] = display.name
    failures, reports = [], []
    runs = [case] + later_runs(case)
    # One Wine session for the whole case: a wineserver that stays up keeps Wine's services
    # and desktop running from the resource embedding to the last run. Otherwise each
    # Wine command that starts more than 3 s after the previous one ended (likely on a
    # loaded machine) boots them again, about 2 s of processor time each time.
    subprocess.run(["wineserver", "-p"], env=env, check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        resources = {}
        if "resource_folder" in case:  # every <id>.xml / <id>.bin that mkpatch wrote
            folder = os.path.join(BUILT["dir"], case["resource_folder"])
            for entry in os.listdir(folder):
                stem, extension = os.path.splitext(entry)
                if stem.isdigit() and extension in (".xml", ".bin"):
                    resources[stem] = {"built": os.path.join(case["resource_folder"], entry)}
        resources.update(case.get("resources", {}))
        setres = ["wine", args.vardplay, "setres", "C:\\%s\\original.exe" % EXE_DIR, exe_windows]
        for rid, spec in sorted(resources.items(), key=lambda kv: int(kv[0])):
            host = os.path.join(exe_dir, "res-%s.bin" % rid)
            if spec is None:
                setres.append("%s=-" % rid)
                continue
            with open(host, "wb") as f:
                f.write(content_bytes(spec, scenario_dir))
            setres.append("%s=C:\\%s\\res-%s.bin" % (rid, EXE_DIR, rid))
        done = wine(setres, env, os.path.join(exe_dir, "setres.log"), 120)
        if done[0] != 0:
            failures.append("embedding resources failed: " + done[1])
        for number, run in enumerate(runs, start=1) if done[0] == 0 else []:
            # Files of the first run are named as before; later runs' get their number.
            tag = "" if number == 1 else str(number)
            said = "" if number == 1 else "run %d: " % number
            with open(os.path.join(exe_dir, "script%s.txt" % tag), "w", encoding="utf-8") as f:
                f.write(make_script(run, exe_windows))
            timeout = run.get("timeout_ms", 90000) / 1000 + 60
            done = wine(["wine", args.vardplay, "play", "C:\\%s\\script%s.txt" % (EXE_DIR, tag),
                         "C:\\%s\\report%s.json" % (EXE_DIR, tag)], env,
                        os.path.join(exe_dir, "play%s.log" % tag), timeout)
            report_path = os.path.join(exe_dir, "report%s.json" % tag)
            report = None
            if os.path.exists(report_path):
                with open(report_path, encoding="utf-8") as f:
                    report = json.load(f)
            if report is None or done[0] == 2:
                failures.append(said + "vardplay failed (%d): %s" % done)
                break
            reports.append(report)
            # Checked at once: a second run changes the files again.
            failures += [said + f for f in check_report(run, report, prefix, scenario_dir,
                                                         texts)]
    finally:
        subprocess.run(["wineserver", "-k"], env=env, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        display.close()

    if not wine_env.template_intact(template):
        failures.append("the scenario changed the template prefix through a hard link "
                        "(the template was removed and is made anew next time)")

    print("scenario %s: %s" % (name, case.get("description", scenario.get("description", ""))))
    for number, report in enumerate(reports, start=1):
        if len(reports) > 1:
            print("  run %d:" % number)
        for b in report["boxes"]:
            print("  box %d: [%s] %s | buttons %s | icon %s | pressed %d"
                  % (b["index"], b["caption"], b["text"].replace("\n", "\\n"),
                     ", ".join(x["label"] for x in b["buttons"]), b["icon"], b["pressed"]))
        print("  exit code %s after %d ms" % (report["exit_code_hex"], report["run_ms"]))
    for f in failures:
        print("FAIL " + f)
    if failures or args.keep:
        print("  prefix kept: " + prefix)
    else:
        shutil.rmtree(prefix, ignore_errors=True)
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("--vardplay", required=True)
    parser.add_argument("--strip", required=True)
    parser.add_argument("--program", action="append", default=[])
    parser.add_argument("--keep", action="store_true")
    parser.add_argument("scenario")
    parser.add_argument("case")
    args = parser.parse_args()
    sys.exit(run_case(args, args.scenario, args.case))


if __name__ == "__main__":
    main()
