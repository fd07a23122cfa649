#!/usr/bin/env python3
"""Fails when a source includes a header of a folder its own folder may not use.

This table is the one statement of the layering (src/README.md draws it). A folder may
always include its own headers; any other project include must name a folder listed for
it. An include of a folder that the table does not know fails too, so that a new folder
is placed in the layering when it is made.

usage: check_layers.py REPO_DIR
"""
import os
import re
import sys

# Folder -> the other folders whose headers it may include. Paths in includes start at
# src/ (or tools/ for mkpatch).
ALLOWED = {
    # src/: lowest layer first.
    "base": set(),
    "os": {"base"},
    "model": {"base"},
    "manifest": {"base", "os", "model"},
    "engine": {"base", "os", "model", "manifest"},
    "ui": {"base", "os", "model", "manifest"},
    "cleanup": {"base", "os"},
    "run": {"base", "os", "model", "manifest", "engine", "ui", "cleanup", "resources"},
    "resources": set(),
    # tools/: the patch builder uses the portable parts of the patcher.
    "mkpatch": {"base", "model", "manifest", "engine", "ui", "cleanup"},
}
ROOTS = ("src", "tools")

# mkpatch's stages in the order a build runs them (tools/mkpatch/README.md): a stage may
# include its own headers and those of the stages before it; the files at mkpatch's top
# (the driver and the command line) may include every stage.
MKPATCH_STAGES = ["common", "project", "compare", "encode", "output", "check", "preview"]
SOURCES = (".h", ".hpp", ".cpp", ".cc", ".c")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def folder_of(path, root):
    """The layer a file belongs to: its first folder below its root."""
    parts = os.path.relpath(path, root).split(os.sep)
    return parts[0] if len(parts) > 1 else None


def mkpatch_stage_problem(path, root, inc):
    """Why an include of one mkpatch file by another breaks the stage order, or None."""
    parts = os.path.relpath(path, root).split(os.sep)
    own = parts[1] if len(parts) > 2 else None
    inc_parts = inc.split("/")
    target = inc_parts[1] if len(inc_parts) > 2 else None
    if target is None:
        return '"%s" is at mkpatch\'s top, which no stage may include' % inc if own else None
    if target not in MKPATCH_STAGES:
        return '"%s" is in mkpatch/%s/, which is not a stage' % (inc, target)
    if own is None or own == target:
        return None
    if own not in MKPATCH_STAGES:
        return "mkpatch/%s/ is not a stage" % own
    if MKPATCH_STAGES.index(target) > MKPATCH_STAGES.index(own):
        return 'stage %s/ may not include "%s" of a later stage' % (own, inc)
    return None


def check(repo):
    bad, checked = [], 0
    for root_name in ROOTS:
        root = os.path.join(repo, root_name)
        for dirpath, _, files in os.walk(root):
            for name in sorted(files):
                if not name.endswith(SOURCES):
                    continue
                path = os.path.join(dirpath, name)
                own = folder_of(path, root)
                if own is None:
                    continue
                checked += 1
                where = os.path.relpath(path, repo)
                if own not in ALLOWED:
                    bad.append("%s: folder %s/ is not in the layering table" % (where, own))
                    continue
                text = open(path, encoding="utf-8", errors="replace").read()
                for inc in INCLUDE.findall(text):
                    if "/" not in inc:
                        bad.append('%s: "%s" names no folder' % (where, inc))
                        continue
                    target = inc.split("/", 1)[0]
                    if target == own == "mkpatch":
                        problem = mkpatch_stage_problem(path, root, inc)
                        if problem:
                            bad.append("%s: %s" % (where, problem))
                        continue
                    if target == own or target in ALLOWED[own]:
                        continue
                    if target not in ALLOWED:
                        bad.append('%s: "%s" is in folder %s/, which the layering table '
                                   "does not know" % (where, inc, target))
                    else:
                        bad.append('%s: %s/ may not include "%s"' % (where, own, inc))
    return bad, checked


def main():
    bad, checked = check(sys.argv[1])
    for b in bad:
        print("include against the layering: " + b)
    print("checked %d files against the layering" % checked)
    sys.exit(1 if bad or checked == 0 else 0)


if __name__ == "__main__":
    main()
