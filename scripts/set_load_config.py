#!/usr/bin/env python3
"""Points a linked exe's load-configuration data directory at its `_load_config_used`
structure and updates the header checksum. The linker (GNU ld 2.40) leaves the directory
empty whatever the program defines, and the loader looks nowhere else for the structure.

usage: set_load_config.py NM EXE

The structure's address comes from the exe's symbol table (NM is the target's nm). The
directory's size is the structure's own first field for 64-bit images; 32-bit images give
64, the size that Windows XP and earlier insist on (newer systems read the first field),
as the platform's own linker does.
"""
import struct
import subprocess
import sys

LOAD_CONFIG_DIRECTORY = 10


def symbol_address(nm, exe):
    out = subprocess.run([nm, exe], check=True, capture_output=True, text=True).stdout
    for line in out.split("\n"):
        fields = line.split()
        if len(fields) == 3 and fields[2] in ("_load_config_used", "__load_config_used"):
            return int(fields[0], 16)
    sys.exit("%s defines no _load_config_used" % exe)


def checksum(data, checksum_at):
    """The PE header checksum: 16-bit one's-complement style sum of the file without the
    checksum field, plus the file's length."""
    padded = data + b"\0" * (len(data) % 2)
    words = struct.unpack("<%dH" % (len(padded) // 2), padded)
    total = sum(words) - sum(struct.unpack_from("<HH", data, checksum_at))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def main():
    nm, exe = sys.argv[1], sys.argv[2]
    data = bytearray(open(exe, "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit("%s is not a PE file" % exe)
    nsections, = struct.unpack_from("<H", data, pe + 6)
    opt_size, = struct.unpack_from("<H", data, pe + 20)
    opt = pe + 24
    pe32 = struct.unpack_from("<H", data, opt)[0] == 0x10B
    image_base = struct.unpack_from("<I" if pe32 else "<Q", data, opt + (28 if pe32 else 24))[0]
    dirs = opt + (96 if pe32 else 112)
    rva = symbol_address(nm, exe) - image_base
    for i in range(nsections):
        s = opt + opt_size + 40 * i
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
        if va <= rva and rva + 4 <= va + min(vsize, rawsize):
            size = struct.unpack_from("<I", data, rawptr + rva - va)[0]
            break
    else:
        sys.exit("%s: _load_config_used lies outside the file's sections" % exe)
    struct.pack_into("<II", data, dirs + 8 * LOAD_CONFIG_DIRECTORY, rva,
                     min(size, 64) if pe32 else size)
    checksum_at = opt + 64
    struct.pack_into("<I", data, checksum_at, checksum(bytes(data), checksum_at))
    open(exe, "wb").write(data)


if __name__ == "__main__":
    main()
