#!/usr/bin/env python3
"""Reports what a patch run changed in an installation and whether the result equals the
expected version byte for byte.

usage: compare_trees.py BEFORE AFTER EXPECTED [--ignore DIR ...]
Folders named by --ignore (relative, '/'-separated) are left out of the byte comparison
(the saves below settings/ are judged separately). Exit code 0 when AFTER equals EXPECTED.
"""
import hashlib
import os
import sys


def tree(root, ignore):
    files = {}
    for folder, dirs, names in os.walk(root):
        rel_folder = os.path.relpath(folder, root).replace(os.sep, "/")
        dirs[:] = [d for d in dirs if (d if rel_folder == "." else rel_folder + "/" + d) not in ignore]
        for name in names:
            rel = name if rel_folder == "." else rel_folder + "/" + name
            with open(os.path.join(folder, name), "rb") as f:
                files[rel.lower()] = (rel, hashlib.sha256(f.read()).hexdigest())
    return files


def main():
    before_dir, after_dir, expected_dir = sys.argv[1:4]
    ignore = set()
    args = sys.argv[4:]
    while args:
        if args[0] == "--ignore":
            ignore.add(args[1])
            args = args[2:]
        else:
            sys.exit("unknown argument " + args[0])
    before, after, expected = (tree(d, ignore) for d in (before_dir, after_dir, expected_dir))
    added = sorted(after[k][0] for k in after if k not in before)
    deleted = sorted(before[k][0] for k in before if k not in after)
    updated = sorted(after[k][0] for k in after if k in before and after[k][1] != before[k][1])
    same = sum(1 for k in after if k in before and after[k][1] == before[k][1])
    print("changes in the installation: %d added, %d updated, %d deleted, %d unchanged"
          % (len(added), len(updated), len(deleted), same))
    for label, names in (("added", added), ("updated", updated), ("deleted", deleted)):
        for n in names:
            print("  %-8s %s" % (label, n))
    missing = sorted(expected[k][0] for k in expected if k not in after)
    extra = sorted(after[k][0] for k in after if k not in expected)
    differ = sorted(after[k][0] for k in after if k in expected and after[k][1] != expected[k][1])
    if missing or extra or differ:
        print("RESULT: the installation differs from the expected version:")
        for label, names in (("missing", missing), ("extra", extra), ("differs", differ)):
            for n in names:
                print("  %-8s %s" % (label, n))
        return 1
    print("RESULT: the installation equals the expected version byte for byte (%d files)"
          % len(expected))
    return 0


if __name__ == "__main__":
    sys.exit(main())
