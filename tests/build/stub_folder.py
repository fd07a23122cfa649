"""The stubs folder that `mkpatch build --stubs` reads, made from the two presets' built
patcher stubs, for the tests that build the demo patch with them."""
import os
import shutil
import sys


def stub_folder(work, stubs):
    """WORK/stubs holding patcher-PRESET.exe for every preset -> stub path in `stubs`."""
    folder = os.path.join(work, "stubs")
    os.makedirs(folder)
    for preset, stub in stubs.items():
        if not os.path.exists(stub):
            sys.exit("the %s patcher stub %s is missing: build it with "
                     "`cmake --build --preset %s --target patcher_stub`" % (preset, stub, preset))
        shutil.copyfile(stub, os.path.join(folder, "patcher-%s.exe" % preset))
    return folder
