#!/usr/bin/env python3
"""Runs the full-disk case of engine_apply_test on a real size-limited drive.

As root, mounts a tmpfs of 16 MiB, maps it as a drive letter of the test's Wine prefix
(a symlink in dosdevices) and runs ApplyInterrupted.AFullDisk* with VARD_SMALL_DRIVE
naming that letter; the mount and the letter are removed afterwards whatever happens.
Without root (or where mounting is refused) the test is skipped with exit code 77.
Usage: disk_full_test.py WINE_RUN PREFIX TEST_EXE
"""
import os
import subprocess
import sys
import tempfile

SKIP = 77


def main():
    wine_run, prefix, test_exe = sys.argv[1:4]
    if os.geteuid() != 0:
        print("SKIPPED: mounting a size-limited tmpfs needs root")
        return SKIP
    dosdevices = os.path.join(prefix, "dosdevices")
    if not os.path.isdir(dosdevices):  # wine-run makes the prefix on first use
        subprocess.run([wine_run, prefix, test_exe, "--gtest_list_tests"],
                       stdout=subprocess.DEVNULL, check=True)
    letter = next((c for c in "qponmlkjihgfedr" if not os.path.lexists(
        os.path.join(dosdevices, c + ":"))), None)
    if letter is None:
        print("no free drive letter in " + dosdevices)
        return 1
    mount_point = tempfile.mkdtemp(prefix="vard-small-drive-")
    link = os.path.join(dosdevices, letter + ":")
    mounted = False
    try:
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16m", "tmpfs", mount_point],
                                capture_output=True, text=True)
        if result.returncode != 0:
            print("SKIPPED: cannot mount a tmpfs here: " + result.stderr.strip())
            return SKIP
        mounted = True
        os.symlink(mount_point, link)
        env = dict(os.environ, VARD_SMALL_DRIVE=letter.upper() + ":")
        return subprocess.run([wine_run, prefix, test_exe,
                               "--gtest_filter=ApplyInterrupted.AFullDisk*"], env=env).returncode
    finally:
        if os.path.lexists(link):
            os.unlink(link)
        if mounted:
            subprocess.run(["umount", mount_point], check=False)
        os.rmdir(mount_point)


if __name__ == "__main__":
    sys.exit(main())
