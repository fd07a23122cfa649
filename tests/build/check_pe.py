#!/usr/bin/env python3
"""Static checks of a built patcher.exe: the DLLs it imports (from `objdump -p`) are all
libraries that Windows always loads from its own folder, the exe restricts the search for
every other library to the system folder (it looks SetDefaultDllDirectories up, and its
load configuration's DependentLoadFlags name the system folder), and its resources hold
the administrator manifest and icon 101.

usage: check_pe.py OBJDUMP EXE [--resource TYPE:ID ...] [--patch-rc RC]
                    [--version NAME=TEXT ...] [--file-version A.B.C.D] [--signed]
                    [--stub | --same-outside-resources STUB] [--wrestool]

--patch-rc: every "DATA" resource the script (mkpatch's patch_data.rc) lists must be in the
exe with exactly the bytes of the file it names.
--version, --file-version: the version resource (VERSIONINFO 1) holds that string value,
and that file and product version in its fixed part.
--signed: the exe carries an Authenticode signature (its certificate table is not empty).
--stub: the exe is a patcher stub (it carries the VARDSTUB marker and no patch).
--wrestool: icoutils' wrestool lists the same resources, with the same bytes, as this
script's own reader (a second, independent reader of the resource directory).
--same-outside-resources STUB: the exe is STUB with other resources: every other section
and the COFF symbol table hold the same bytes, the headers differ only in the fields that
follow the resource section's size, and the directories point at the same places.
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
    """The DLLs that `objdump -p` lists, and its complaints about the headers and the
    resource directory, which it dumps too."""
    run = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True)
    complaints = run.stderr.splitlines() + [line for line in run.stdout.splitlines()
                                            if re.search(r"corrupt", line, re.I)]
    return sorted({line.split("DLL Name:")[1].strip().lower()
                   for line in run.stdout.splitlines() if "DLL Name:" in line}), complaints


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


def layout(data):
    """(header fields, {section name: (address, raw bytes)}, [directories], symbol table
    bytes) of a PE file, for comparing two builds of one program."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    nsections = struct.unpack_from("<H", data, pe + 6)[0]
    symbols = struct.unpack_from("<I", data, pe + 12)[0]
    opt_size = struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    ndirs_at = 92 if struct.unpack_from("<H", data, opt)[0] == 0x10B else 108
    dirs_at = ndirs_at + 4
    ndirs = struct.unpack_from("<I", data, opt + ndirs_at)[0]
    header = bytearray(data[:opt + dirs_at])
    # PointerToSymbolTable, SizeOfInitializedData, SizeOfImage, CheckSum
    for at in (pe + 12, opt + 8, opt + 56, opt + 64):
        header[at:at + 4] = b"\0\0\0\0"
    sections = {}
    for i in range(nsections):
        s = opt + opt_size + 40 * i
        name = data[s:s + 8].rstrip(b"\0")
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
        sections[name] = (va, data[rawptr:rawptr + rawsize] if rawsize else b"")

    def place(rva):
        for name, (va, raw) in sections.items():
            if va <= rva < va + max(len(raw), 1):
                return name, rva - va
        return None, rva
    dirs = []
    for i in range(ndirs):
        rva, size = struct.unpack_from("<II", data, opt + dirs_at + 8 * i)
        dirs.append((place(rva), size) if i not in (2, 4) else None)
    # The symbol table runs to the end of the file, or to a signature appended after it.
    certificate = struct.unpack_from("<I", data, opt + dirs_at + 8 * 4)[0] if ndirs > 4 else 0
    tail = data[symbols:certificate or len(data)] if symbols else b""
    return bytes(header), sections, dirs, tail


def same_outside_resources(exe, stub):
    """What differs between exe and the stub it was made from, outside the resources."""
    a, b = layout(open(exe, "rb").read()), layout(open(stub, "rb").read())
    problems = []
    if a[0] != b[0]:
        problems.append("headers differ in more than the sizes and the checksum")
    if set(a[1]) != set(b[1]):
        problems.append("sections %s, stub's %s" % (sorted(a[1]), sorted(b[1])))
    for name in set(a[1]) & set(b[1]) - {b".rsrc"}:
        if a[1][name][1] != b[1][name][1]:
            problems.append("section %s differs" % name.decode())
    if a[2] != b[2]:
        problems.append("data directories point elsewhere")
    # Signing pads the file to 8 bytes before the signature.
    if a[3].rstrip(b"\0") != b[3].rstrip(b"\0"):
        problems.append("COFF symbol table differs")
    return problems


def file_offset(data, rva):
    """The file offset of an address (wrestool's listing gives addresses)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    opt = pe + 24
    opt_size = struct.unpack_from("<H", data, pe + 20)[0]
    for i in range(struct.unpack_from("<H", data, pe + 6)[0]):
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, opt + opt_size + 40 * i + 8)
        if va <= rva < va + max(vsize, rawsize):
            return rawptr + rva - va
    return len(data)


def wrestool_disagrees(exe, res):
    """Differences between wrestool's listing of exe and the resources read here. wrestool
    (icoutils 0.32) prints the type's text in place of a named resource's name, so named
    names are compared as "named" only."""
    data = open(exe, "rb").read()
    out = subprocess.run(["wrestool", "-l", exe], check=True, capture_output=True,
                         text=True).stdout
    listed = []
    for line in out.splitlines():
        m = re.match(r"--type=(\S+) --name=(\S+) --language=(\d+) \[.*offset=0x([0-9a-f]+) "
                     r"size=(\d+)\]", line)
        if not m:
            return ["wrestool wrote %r" % line]
        kind, name = (int(v) if v.isdigit() else v.strip("'") for v in m.group(1, 2))
        at, size = file_offset(data, int(m.group(4), 16)), int(m.group(5))
        listed.append((str(kind), str(name) if isinstance(name, int) else "named",
                       int(m.group(3)), data[at:at + size]))
    ours = [(str(kind), str(name) if isinstance(name, int) else "named", lang, blob)
            for (kind, name), langs in res.items() for lang, blob in langs.items()]
    if sorted(listed) == sorted(ours):
        return []
    apart = sorted({item[:3] for item in set(listed) ^ set(ours)})
    return ["wrestool lists other resources or other bytes: %s" % apart]


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
    want_stub = "--stub" in args
    want_wrestool = "--wrestool" in args
    stub = take("--same-outside-resources")
    args = [a for a in args if a not in ("--signed", "--stub", "--wrestool")]
    wanted = [tuple(int(x) for x in a.split(":")) for a in args if a != "--resource"]
    failures = []
    dlls, complaints = imports(objdump, exe)
    failures += ["objdump: " + c for c in complaints]
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
    marker = res.get(("DATA", "VARDSTUB"))
    if want_stub and (not marker or (RT_VERSION, 1) in res or ("DATA", 5001) in res):
        failures.append("not a patcher stub (a VARDSTUB marker and no patch)")
    if not want_stub and marker:
        failures.append("carries the stub marker VARDSTUB")
    for other in stub:
        failures += ["outside the resources, not as %s: %s" % (other, p)
                     for p in same_outside_resources(exe, other)]
    if want_wrestool:
        failures += wrestool_disagrees(exe, res)
    if want_signature and not signed(exe):
        failures.append("no Authenticode signature")
    print("%s imports: %s" % (exe, ", ".join(dlls)))
    for f in failures:
        print("FAIL: " + f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
