"""The Wine side of an end-to-end scenario: a template prefix made once per build folder,
a cheap private copy of it per scenario, compiled Unix locales so that Wine's default
language follows LANG, and an X display (the caller's, or a private Xvfb).

Everything shared between parallel scenarios (the template, the locales) is created under
an flock, so `ctest -j` never builds it twice or reads it half made.
"""
import contextlib
import fcntl
import json
import os
import shutil
import subprocess
import tempfile

# Folders of the template that Wine only writes when it updates a prefix (which never
# happens for a prefix made by the same Wine): hard-linked into each copy. Everything
# else (registry files, ini files, user folders) is copied, so a scenario can never write
# into the template through a shared inode.
LINKED_DIRS = ("drive_c/windows/system32", "drive_c/windows/syswow64", "drive_c/windows/winsxs")
STAMP = ".vard-linked.json"
# No Mono or Gecko installer prompts (the patcher needs neither), and no menu builder:
# Wine starts it with every session to write desktop menu entries and file associations,
# which nothing here uses, and it cost about a second of processor time per start.
DLL_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"
# Bumped whenever the template's making changes, so that build folders make a new one.
TEMPLATE_VERSION = 3
WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                        "wine-run")


@contextlib.contextmanager
def locked(path):
    with open(path, "w") as f:
        fcntl.flock(f, fcntl.LOCK_EX)
        try:
            yield
        finally:
            fcntl.flock(f, fcntl.LOCK_UN)


def base_env(prefix):
    env = dict(os.environ)
    for name in ("LC_ALL", "LC_MESSAGES", "LC_CTYPE", "LANGUAGE"):
        env.pop(name, None)  # LANG alone decides the scenario's locale
    env.update(WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all",
               WINEDLLOVERRIDES=DLL_OVERRIDES)
    return env


def _linked(rel):
    return any(rel == d or rel.startswith(d + "/") for d in LINKED_DIRS)


def _stamp_of(template):
    stamp = {}
    for d in LINKED_DIRS:
        for root, _, files in os.walk(os.path.join(template, d)):
            for name in files:
                path = os.path.join(root, name)
                if os.path.islink(path):
                    continue
                st = os.stat(path)
                stamp[os.path.relpath(path, template)] = [st.st_size, st.st_mtime_ns]
    return stamp


def template_prefix(work):
    """The build folder's template prefix, created on first use."""
    template = os.path.join(work, "template")
    ready = os.path.join(template, ".vard-ready-%d" % TEMPLATE_VERSION)
    if os.path.exists(ready):
        return template
    os.makedirs(work, exist_ok=True)
    with locked(template + ".lock"):
        if not os.path.exists(ready):
            shutil.rmtree(template, ignore_errors=True)
            env = base_env(template)
            # The checkout's template prefix, made once by wineboot and copied by
            # scripts/wine-run, which then runs the registry change below in the copy.
            # Plain Xvfb has no window manager, and Wine waits up to 2 s for one whenever a
            # managed window is hidden; unmanaged windows (drawn with Wine's own frames, as
            # on Windows) close at once.
            subprocess.run([WINE_RUN, template, "reg", "add",
                            "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N",
                            "/f"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=True)
            subprocess.run(["wineserver", "-w"], env=env, check=False)
            with open(os.path.join(template, STAMP), "w") as f:
                json.dump(_stamp_of(template), f)
            open(ready, "w").close()
    return template


def template_intact(template):
    """False when a linked file of the template changed (a scenario wrote through a hard
    link): the template is then removed so that the next scenario makes a fresh one."""
    with open(os.path.join(template, STAMP)) as f:
        recorded = json.load(f)
    if _stamp_of(template) == recorded:
        return True
    with locked(template + ".lock"):
        shutil.rmtree(template, ignore_errors=True)
    return False


def copy_prefix(template, target):
    """A private prefix: hard links for the big system folders, real copies of the rest."""
    shutil.rmtree(target, ignore_errors=True)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    for root, dirs, files in os.walk(template):
        rel_root = os.path.relpath(root, template)
        out_root = os.path.normpath(os.path.join(target, rel_root))
        os.makedirs(out_root, exist_ok=True)
        for name in list(dirs):
            src = os.path.join(root, name)
            if os.path.islink(src):  # dosdevices: c: -> ../drive_c, z: -> /
                os.symlink(os.readlink(src), os.path.join(out_root, name))
                dirs.remove(name)
        for name in files:
            src = os.path.join(root, name)
            dst = os.path.join(out_root, name)
            rel = os.path.normpath(os.path.join(rel_root, name))
            if os.path.islink(src):
                os.symlink(os.readlink(src), dst)
            elif _linked(rel):
                os.link(src, dst)
            else:
                shutil.copy2(src, dst)


def locale_dir(work, lang):
    """A LOCPATH folder holding the compiled Unix locale LANG names. Wine takes its default
    language from the locale that glibc manages to load, and Debian generates none by
    default; compiling them into the build folder needs no change to the system."""
    locales = os.path.join(work, "locales")
    if lang in ("C", "C.UTF-8", "POSIX", ""):
        return None
    name = lang
    compiled = os.path.join(locales, name)
    if os.path.exists(os.path.join(compiled, "LC_IDENTIFICATION")):
        return locales
    os.makedirs(locales, exist_ok=True)
    with locked(os.path.join(locales, ".lock")):
        if not os.path.exists(os.path.join(compiled, "LC_IDENTIFICATION")):
            source, _, charset = name.partition(".")
            charset = {"utf8": "UTF-8"}.get(charset.lower(), charset or "UTF-8")
            tmp = tempfile.mkdtemp(dir=locales)
            subprocess.run(["localedef", "-i", source, "-f", charset,
                            os.path.join(tmp, name)], check=False,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if not os.path.exists(os.path.join(tmp, name, "LC_IDENTIFICATION")):
                shutil.rmtree(tmp, ignore_errors=True)
                raise RuntimeError("cannot compile the locale " + lang)
            os.rename(os.path.join(tmp, name), compiled)
            os.rmdir(tmp)
    return locales


class Display:
    """The caller's DISPLAY, or a private Xvfb screen of 1024x768x24 for the scenario's
    life (always private when asked for, for scenarios that read the screen's pixels)."""

    def __init__(self, private=False):
        self.process = None
        self.name = os.environ.get("DISPLAY", "")
        if private or not self.name:
            read_end, write_end = os.pipe()
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                 "-nolisten", "tcp"], pass_fds=(write_end,),
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.close(write_end)
            with os.fdopen(read_end) as f:
                number = f.readline().strip()
            if not number:
                self.close()
                raise RuntimeError("Xvfb did not start")
            self.name = ":" + number

    def close(self):
        if self.process:
            self.process.terminate()
            self.process.wait()
            self.process = None
