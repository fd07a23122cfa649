#!/usr/bin/env python3
"""Fails when a source of the portable core, or a project header it includes (followed
transitively), includes a Windows header.

usage: check_portable.py SRC_DIR "a.cpp;b.h;..."   (paths relative to SRC_DIR or absolute)
"""
import os
import re
import sys

WINDOWS = re.compile(r'#\s*include\s*[<"](windows|winbase|winuser|winreg|shellapi|shlwapi|'
                     r'shlobj|wingdi|mmsystem|winnt|windef|process|io)\.h[>"]', re.I)
LOCAL = re.compile(r'#\s*include\s*"([^"]+)"')


def main():
    src, sources = sys.argv[1], [s for s in sys.argv[2].split(";") if s]
    todo = [s if os.path.isabs(s) else os.path.join(src, s) for s in sources]
    seen, bad = set(), []
    while todo:
        path = os.path.normpath(todo.pop())
        if path in seen or not os.path.isfile(path):
            continue
        seen.add(path)
        text = open(path, encoding="utf-8", errors="replace").read()
        for m in WINDOWS.finditer(text):
            bad.append("%s: %s" % (os.path.relpath(path, src), m.group(0)))
        for inc in LOCAL.findall(text):
            for base in (os.path.dirname(path), src):
                candidate = os.path.join(base, inc)
                if os.path.isfile(candidate):
                    todo.append(candidate)
                    break
    for b in bad:
        print("portable file includes a Windows header: " + b)
    print("checked %d portable files" % len(seen))
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main()
