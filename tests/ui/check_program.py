#!/usr/bin/env python3
"""Checks the finished Windows program file: a 32-bit x86 PE that imports only Windows' own DLLs,
has ASLR and DEP switched on, carries the application manifest as resource 1 of type 24 and holds
none of the given build paths. With --console: a console program, whose manifest asks for no
common controls.

usage: check_program.py [--console] --objdump OBJDUMP --exe PROGRAM [--forbid PATH ...]
"""
import argparse
import re
import struct
import subprocess
import sys

# DLLs that are part of every Windows installation. Anything else (a compiler runtime such as
# libstdc++-6.dll, libgcc_s_dw2-1.dll or libwinpthread-1.dll) would have to ship beside the program.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "comctl32.dll", "msvcrt.dll",
    "shell32.dll", "ole32.dll", "oleaut32.dll", "comdlg32.dll", "version.dll", "shlwapi.dll",
    "winmm.dll", "ntdll.dll",
}

RT_MANIFEST = 24
MANIFEST_ID = 1


def objdump(tool, flag, exe):
    return subprocess.run([tool, flag, exe], check=True, capture_output=True, text=True).stdout


def check_header(tool, exe, errors):
    out = objdump(tool, "-f", exe)
    if "file format pei-i386" not in out or "architecture: i386" not in out:
        errors.append("not a 32-bit x86 PE file:\n" + out)


def check_private_headers(tool, exe, errors):
    out = objdump(tool, "-p", exe)
    m = re.search(r"^Magic\s+([0-9a-fA-F]+)", out, re.M)
    if not m or int(m.group(1), 16) != 0x10B:
        errors.append("optional header is not PE32 (magic 0x10b)")
    dlls = [d.lower() for d in re.findall(r"DLL Name:\s*(\S+)", out)]
    if not dlls:
        errors.append("no imported DLLs found")
    foreign = sorted(set(dlls) - SYSTEM_DLLS)
    if foreign:
        errors.append("imports DLLs that are not part of Windows: " + ", ".join(foreign))
    m = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", out, re.M)
    flags = int(m.group(1), 16) if m else 0
    if not flags & 0x0040:
        errors.append("DllCharacteristics lacks DYNAMIC_BASE (ASLR)")
    if not flags & 0x0100:
        errors.append("DllCharacteristics lacks NX_COMPAT (DEP)")


def sections(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count = struct.unpack_from("<H", data, pe + 6)[0]
    opt_size = struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + opt_size
    result = []
    for i in range(count):
        name, vsize, va, raw_size, raw_ptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        result.append((name.rstrip(b"\0"), va, max(vsize, raw_size), raw_ptr))
    return pe, result


def rva_to_offset(secs, rva):
    for _, va, size, raw in secs:
        if va <= rva < va + size:
            return raw + rva - va
    raise ValueError("RVA %#x outside every section" % rva)


def resource(data, type_id, name_id):
    """The bytes of the first language of resource (type_id, name_id), or None."""
    pe, secs = sections(data)
    rsrc_rva, rsrc_size = struct.unpack_from("<II", data, pe + 24 + 96 + 8 * 2)
    if rsrc_size == 0:
        return None
    base = rva_to_offset(secs, rsrc_rva)

    def find(dir_off, wanted):
        named, ids = struct.unpack_from("<HH", data, base + dir_off + 12)
        for i in range(named + ids):
            ident, value = struct.unpack_from("<II", data, base + dir_off + 16 + 8 * i)
            if wanted is None or (not ident & 0x80000000 and ident == wanted):
                return value
        return None

    level = find(0, type_id)
    if level is None or not level & 0x80000000:
        return None
    level = find(level & 0x7FFFFFFF, name_id)
    if level is None or not level & 0x80000000:
        return None
    leaf = find(level & 0x7FFFFFFF, None)
    if leaf is None or leaf & 0x80000000:
        return None
    data_rva, size = struct.unpack_from("<II", data, base + leaf)
    off = rva_to_offset(secs, data_rva)
    return data[off:off + size]


def check_console(tool, exe, errors):
    out = objdump(tool, "-p", exe)
    m = re.search(r"^Subsystem\s+([0-9a-fA-F]+)", out, re.M)
    if not m or int(m.group(1), 16) != 3:
        errors.append("not a console program (subsystem 3)")


def check_manifest(data, errors, console):
    manifest = resource(data, RT_MANIFEST, MANIFEST_ID)
    if manifest is None:
        errors.append("no manifest resource (type 24, id 1)")
        return
    text = manifest.decode("utf-8", "replace")
    needed_all = ['processorArchitecture="x86"', 'level="asInvoker"', 'uiAccess="false"']
    if not console:
        needed_all += ['name="Microsoft.Windows.Common-Controls"', 'version="6.0.0.0"']
    for needed in needed_all:
        if needed not in text:
            errors.append("manifest lacks " + needed)


def check_paths(data, forbidden, errors):
    for path in forbidden:
        for encoded in (path.encode(), path.encode("utf-16-le")):
            if encoded in data:
                errors.append("build path inside the program: " + path)
                break


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--objdump", required=True)
    ap.add_argument("--exe", required=True)
    ap.add_argument("--forbid", action="append", default=[])
    ap.add_argument("--console", action="store_true")
    args = ap.parse_args()
    with open(args.exe, "rb") as f:
        data = f.read()
    errors = []
    check_header(args.objdump, args.exe, errors)
    check_private_headers(args.objdump, args.exe, errors)
    check_manifest(data, errors, args.console)
    if args.console:
        check_console(args.objdump, args.exe, errors)
    check_paths(data, args.forbid, errors)
    for e in errors:
        print("FAIL:", e)
    if errors:
        return 1
    print("ok:", args.exe)
    return 0


if __name__ == "__main__":
    sys.exit(main())
