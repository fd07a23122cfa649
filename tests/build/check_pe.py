#!/usr/bin/env python3
"""Static checks of a built patcher.exe: the DLLs it imports (from `objdump -p`) are all
libraries that Windows always loads from its own folder, the exe restricts the search for
every other library to the system folder (it looks SetDefaultDllDirectories up, and its
load configuration's DependentLoadFlags name the system folder), and its resources hold
the administrator manifest and icon 101.

usage: check_pe.py OBJDUMP EXE [--resource TYPE:ID ...] [--patch-rc RC]
                    [--version NAME=TEXT ...] [--file-version A.B.C.D] [--signed]

--patch-rc: every "DATA" resource the script (mkpatch's patch_data.rc) lists must be in the
exe with exactly the bytes of the file it names.
--version, --file-version: the version resource (VERSIONINFO 1) holds that string value,
and that file and product version in its fixed part.
--signed: the exe carries an Authenticode signature (its certificate table is not empty).
"""
import re
import struct
import subprocess
import sys

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "shlwapi.dll",
    "advapi32.dll", "winmm.dll", "msvcrt.dll", "ole32.dll", "comctl32.dll", "ntdll.dll",
    "version.dll", "ws2_32.dll", "bcrypt.dll",
}
# The known DLLs of Windows 7 and later: the loader takes them from the system folder
# whatever the search order, so a copy planted beside the elevated patcher is never loaded
# in their place. Any other import would be searched for beside the exe first, before the
# patcher's own code could restrict the search.
KNOWN_DLLS = {
    "kernel32.dll", "ntdll.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
    "shlwapi.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "comdlg32.dll", "imm32.dll",
    "rpcrt4.dll", "ws2_32.dll", "psapi.dll", "setupapi.dll",
}
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
RT_ICON, RT_GROUP_ICON, RT_MANIFEST, RT_STRING, RT_VERSION = 3, 14, 24, 6, 16


def version_info(blob):
    """(fixed file and product version texts, {string name: value}) of a VS_VERSIONINFO."""
    strings, fixed = {}, None

    def block(at, depth):
        nonlocal fixed
        length, value_length, kind = struct.unpack_from("<HHH", blob, at)
        end = at + length
        key_end = at + 6
        while blob[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = blob[at + 6:key_end].decode("utf-16-le")
        pos = (key_end + 2 + 3) & ~3
        size = value_length * 2 if kind == 1 else value_length
        value = blob[pos:pos + size]
        if depth == 0 and key == "VS_VERSION_INFO":
            assert struct.unpack_from("<I", value, 0)[0] == 0xFEEF04BD, "bad VS_FIXEDFILEINFO"
            ms, ls, pms, pls = struct.unpack_from("<IIII", value, 8)
            fixed = ["%d.%d.%d.%d" % (a >> 16, a & 0xFFFF, b >> 16, b & 0xFFFF)
                     for a, b in ((ms, ls), (pms, pls))]
        if depth == 3:
            strings[key] = value.decode("utf-16-le").rstrip("\0")
        pos = (pos + size + 3) & ~3
        while pos < end:
            pos = (block(pos, depth + 1) + 3) & ~3
        return end

    block(0, 0)
    return fixed, strings


def signed(exe):
    """True when the PE's certificate table (data directory 4) is not empty."""
    data = open(exe, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    opt = pe + 24
    dirs = opt + (96 if struct.unpack_from("<H", data, opt)[0] == 0x10B else 112)
    offset, size = struct.unpack_from("<II", data, dirs + 4 * 8)
    return size > 8 and offset + size <= len(data)


def imports(objdump, exe):
    out = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    return sorted({line.split("DLL Name:")[1].strip().lower()
                   for line in out.splitlines() if "DLL Name:" in line})


def section_bytes(exe, name):
    """The raw bytes of the named section (short names only), empty when it is missing."""
    data = open(exe, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    nsections = struct.unpack_from("<H", data, pe + 6)[0]
    opt_size = struct.unpack_from("<H", data, pe + 20)[0]
    for i in range(nsections):
        s = pe + 24 + opt_size + 40 * i
        if data[s:s + 8].rstrip(b"\0") == name:
            rawsize, rawptr = struct.unpack_from("<II", data, s + 16)
            return data[rawptr:rawptr + rawsize]
    return b""


def dependent_load_flags(exe):
    """DependentLoadFlags of the load-configuration structure that data directory 10 names,
    or None when the directory is empty, lies outside the sections or is too short for it."""
    data = open(exe, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    nsections = struct.unpack_from("<H", data, pe + 6)[0]
    opt_size = struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    pe32 = struct.unpack_from("<H", data, opt)[0] == 0x10B
    rva, dir_size = struct.unpack_from("<II", data, opt + (96 if pe32 else 112) + 10 * 8)
    at = 0x36 if pe32 else 0x4E
    if rva == 0 or dir_size < at + 2:
        return None
    for i in range(nsections):
        s = opt + opt_size + 40 * i
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
        if va <= rva and rva + at + 2 <= va + min(vsize, rawsize):
            config = data[rawptr + rva - va:rawptr + rva - va + at + 2]
            size = struct.unpack_from("<I", config, 0)[0]
            return struct.unpack_from("<H", config, at)[0] if size >= at + 2 else None
    return None


def resources(exe):
    """Returns {(type, name): {lang: bytes}} for integer types and names."""
    data = open(exe, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
    nsections = struct.unpack_from("<H", data, pe + 6)[0]
    opt_size = struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    dirs = opt + (96 if magic == 0x10B else 112)
    rsrc_rva, _ = struct.unpack_from("<II", data, dirs + 2 * 8)
    sections = []
    for i in range(nsections):
        s = opt + opt_size + 40 * i
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
        sections.append((va, max(vsize, rawsize), rawptr))

    def off(rva):
        for va, size, raw in sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("rva outside sections")

    base = off(rsrc_rva)

    def entries(d):
        named, ids = struct.unpack_from("<HH", data, base + d + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + d + 16 + 8 * i)
            if name & 0x80000000:  # a named entry: length-prefixed UTF-16 text
                at = base + (name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", data, at)[0]
                name = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            yield name, target

    found = {}
    for t, t_off in entries(0):
        for n, n_off in entries(t_off & 0x7FFFFFFF):
            for lang, l_off in entries(n_off & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + l_off)
                found.setdefault((t, n), {})[lang] = data[off(rva):off(rva) + size]
    return found


def main():
    objdump, exe = sys.argv[1], sys.argv[2]
    args = sys.argv[3:]
    patch_rc = None
    if "--patch-rc" in args:
        patch_rc = args[args.index("--patch-rc") + 1]
        del args[args.index("--patch-rc"):args.index("--patch-rc") + 2]
    def take(option):
        values = []
        while option in args:
            i = args.index(option)
            values.append(args[i + 1])
            del args[i:i + 2]
        return values
    versions = dict(v.split("=", 1) for v in take("--version"))
    file_version = take("--file-version")
    want_signature = "--signed" in args
    args = [a for a in args if a != "--signed"]
    wanted = [tuple(int(x) for x in a.split(":")) for a in args if a != "--resource"]
    failures = []
    dlls = imports(objdump, exe)
    foreign = [d for d in dlls if d not in SYSTEM_DLLS and not d.startswith("api-ms-win-")]
    if foreign:
        failures.append("imports non-system DLLs: " + ", ".join(foreign))
    plantable = [d for d in dlls if d not in KNOWN_DLLS and not d.startswith("api-ms-win-")]
    if plantable:
        failures.append("imports DLLs that a copy beside the exe could replace: " +
                        ", ".join(plantable))
    # The name as GetProcAddress's argument: a NUL-terminated text among the constants
    # (debug information, which also names it, lives in other sections).
    if b"\0SetDefaultDllDirectories\0" not in section_bytes(exe, b".rdata"):
        failures.append("does not restrict the DLL search (no SetDefaultDllDirectories lookup)")
    load_flags = dependent_load_flags(exe)
    if load_flags is None:
        failures.append("no load configuration with DependentLoadFlags")
    elif not load_flags & LOAD_LIBRARY_SEARCH_SYSTEM32:
        failures.append("DependentLoadFlags 0x%x do not restrict the search to the system "
                        "folder" % load_flags)
    res = resources(exe)
    manifest = b"".join(res.get((RT_MANIFEST, 1), {}).values())
    if b'level="requireAdministrator"' not in manifest:
        failures.append("no application manifest asking for administrator rights")
    if (RT_GROUP_ICON, 101) not in res:
        failures.append("no icon resource 101")
    for key in wanted:
        if key not in res:
            failures.append("missing resource type %d id %d" % key)
    if patch_rc:
        listed = re.findall(r'^(\d+) DATA "(.*)"$', open(patch_rc).read(), re.M)
        if not any(int(i) == 5001 for i, _ in listed):
            failures.append("%s lists no main manifest 5001" % patch_rc)
        for rid, path in listed:
            got = b"".join(res.get(("DATA", int(rid)), {}).values())
            if got != open(path.replace('\\"', '"').replace("\\\\", "\\"), "rb").read():
                failures.append("DATA %s differs from %s or is missing" % (rid, path))
        print("%s carries the %d DATA resources of %s" % (exe, len(listed), patch_rc))
    if versions or file_version:
        blobs = list(res.get((RT_VERSION, 1), {}).values())
        if len(blobs) != 1:
            failures.append("no single version resource 1 (found %d)" % len(blobs))
        else:
            fixed, strings = version_info(blobs[0])
            for name, text in versions.items():
                if strings.get(name) != text:
                    failures.append("version %s is %r, not %r" % (name, strings.get(name), text))
            if file_version and fixed != [file_version[0]] * 2:
                failures.append("file and product version %s, not %s" % (fixed, file_version[0]))
            print("%s version information: %s" % (exe, strings))
    if want_signature and not signed(exe):
        failures.append("no Authenticode signature")
    print("%s imports: %s" % (exe, ", ".join(dlls)))
    for f in failures:
        print("FAIL: " + f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
