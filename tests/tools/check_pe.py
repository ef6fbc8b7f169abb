#!/usr/bin/env python3
"""Checks what a clean Windows machine needs of the built binaries.

Each binary must import only Windows system DLLs (the runtime is linked
statically), carry the PE flags NSIS's own binaries carry: ASLR (dynamic
base), DEP (NX compatible), terminal-server aware and large-address aware,
and declare Windows 7 (6.1) as its OS and subsystem version, so that an older
Windows refuses it with its own message. A 64-bit image must also take ASLR's
addresses above 4 GB (high-entropy virtual addresses). With --exports, the
export table must hold exactly those plain names; with --max-size, the file
must be smaller than that many bytes. With --manifest, the application
manifest (resource 24/1) must be well-formed XML that declares, each in the
namespace where Windows looks for it, Windows 7, 8, 8.1 and 10/11 as supported
systems and per-monitor DPI awareness v2, falling back to system awareness
(never per-monitor v1, under which nothing would lay the dialog out again on
a monitor of another DPI).
"""
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "crypt32.dll", "gdi32.dll",
    "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "psapi.dll",
    "shell32.dll", "shlwapi.dll", "urlmon.dll", "user32.dll", "version.dll",
    "wininet.dll", "wintrust.dll",
}
HIGH_ENTROPY_VA, DYNAMIC_BASE, NX_COMPAT, TERMINAL_SERVER_AWARE = 0x0020, 0x0040, 0x0100, 0x8000
LARGE_ADDRESS_AWARE = 0x0020
MINIMUM_WINDOWS = (6, 1)  # Windows 7
RT_MANIFEST, MANIFEST_ID = 24, 1
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"


def resource(image, type_id, name_id):
    """The bytes of resource type_id/name_id, in its first language, in a PE
    image; None when the image has no such resource."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    directories = optional + (96 if struct.unpack_from("<H", image, optional)[0] == 0x10B else 112)
    root_rva, root_size = struct.unpack_from("<II", image, directories + 2 * 8)  # the resource directory
    if not root_size:
        return None
    # Each section header: virtual size, virtual address, raw size and raw
    # pointer follow its 8-byte name.
    headers = [struct.unpack_from("<8xIIII", image, optional + optional_size + 40 * i) for i in range(sections)]

    def offset(rva):
        for size, address, raw_size, raw in headers:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError(f"RVA {rva:#x} lies in no section")

    base = offset(root_rva)

    def child(directory, wanted):
        """The entry of a directory named wanted (any entry for None): its
        offset from the tree's root, high bit set for a subdirectory."""
        named, numbered = struct.unpack_from("<HH", image, base + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", image, base + directory + 16 + 8 * i)
            if wanted is None or name == wanted:
                return target
        return None

    directory = 0
    for wanted in (type_id, name_id):
        target = child(directory, wanted)
        if target is None or not target & 0x80000000:
            return None
        directory = target & 0x7FFFFFFF
    data = child(directory, None)  # the first language
    if data is None or data & 0x80000000:
        return None
    rva, size = struct.unpack_from("<II", image, base + data)
    return image[offset(rva):offset(rva) + size]


def manifest_problems(text):
    try:
        assembly = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        return [f"the manifest is no well-formed XML: {error}"]
    problems = []
    declared = {element.get("Id", "").lower() for element in
                assembly.findall(f"{COMPATIBILITY}compatibility/{COMPATIBILITY}application/{COMPATIBILITY}supportedOS")}
    if declared != set(SUPPORTED_OS):
        missing = [SUPPORTED_OS[guid] for guid in SUPPORTED_OS if guid not in declared]
        problems.append(f"supportedOS: {', '.join(missing) or 'nothing'} missing, "
                        f"{', '.join(sorted(declared - set(SUPPORTED_OS))) or 'nothing'} unknown")
    settings = f"{ASM_V3}application/{ASM_V3}windowsSettings/"
    awareness = assembly.find(f"{settings}{SETTINGS_2016}dpiAwareness")
    values = [value.strip().lower() for value in (awareness.text or "").split(",")] if awareness is not None else []
    if values[:1] != ["permonitorv2"] or "permonitor" in values:
        problems.append(f"dpiAwareness is {values or 'missing'}: PerMonitorV2 first, and no PerMonitor")
    aware = assembly.find(f"{settings}{SETTINGS_2005}dpiAware")
    if aware is None or (aware.text or "").strip().lower() != "true":
        problems.append(f"dpiAware is {'missing' if aware is None else aware.text!r}, expected true")
    return problems


def check(objdump, path, exports, max_size, manifest):
    dump = subprocess.run([objdump, "-p", path], check=True, capture_output=True, text=True).stdout
    problems = []
    image_format = re.search(r"file format (\S+)", dump).group(1)
    imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)}
    foreign = sorted(imports - SYSTEM_DLLS)
    if foreign:
        problems.append(f"imports non-system DLLs: {', '.join(foreign)}")
    characteristics = int(re.search(r"^Characteristics\s+0x([0-9a-f]+)", dump, re.M).group(1), 16)
    dll_characteristics = int(re.search(r"^DllCharacteristics\s+([0-9a-f]+)", dump, re.M).group(1), 16)
    required = [(DYNAMIC_BASE, "DYNAMIC_BASE"), (NX_COMPAT, "NX_COMPAT"),
                (TERMINAL_SERVER_AWARE, "TERMINAL_SERVER_AWARE")]
    if image_format == "pei-x86-64":
        required.append((HIGH_ENTROPY_VA, "HIGH_ENTROPY_VA"))
    for flag, name in required:
        if not dll_characteristics & flag:
            problems.append(f"DllCharacteristics lacks {name}")
    if not characteristics & LARGE_ADDRESS_AWARE:
        problems.append("Characteristics lacks LARGE_ADDRESS_AWARE")
    for field, name in (("OSystem", "OS"), ("Subsystem", "subsystem")):
        declared = tuple(int(re.search(rf"^{part}{field}Version\s+(\d+)", dump, re.M).group(1))
                         for part in ("Major", "Minor"))
        if declared != MINIMUM_WINDOWS:
            problems.append(f"{name} version {declared[0]}.{declared[1]}, expected "
                            f"{MINIMUM_WINDOWS[0]}.{MINIMUM_WINDOWS[1]}")
    if exports is not None:
        table = dump.split("[Ordinal/Name Pointer] Table", 1)
        names = set(re.findall(r"^\s+\[\s*\d+\]\s+(\S+)$", table[1], re.M)) if len(table) == 2 else set()
        if names != set(exports):
            problems.append(f"exports {sorted(names)}, expected {sorted(exports)}")
    size = os.path.getsize(path)
    if max_size is not None and size >= max_size:
        problems.append(f"{size} bytes, expected fewer than {max_size}")
    if manifest:
        with open(path, "rb") as image:
            text = resource(image.read(), RT_MANIFEST, MANIFEST_ID)
        problems += manifest_problems(text) if text is not None else ["no manifest 24/1"]
    return image_format, imports, problems


def parse(argv):
    """--objdump TOOL, then --binary PATH [--max-size BYTES] [--manifest]
    [--exports NAME...] as often as needed; each --objdump serves the binaries
    after it."""
    objdump, binaries, current, exports = None, {}, None, False
    words = iter(argv)
    for word in words:
        if word == "--objdump":
            objdump, current, exports = next(words), None, False
        elif word == "--binary":
            current, exports = next(words), False
            binaries[current] = {"objdump": objdump, "exports": None, "max_size": None, "manifest": False}
        elif word == "--max-size" and current is not None:
            binaries[current]["max_size"], exports = int(next(words)), False
        elif word == "--manifest" and current is not None:
            binaries[current]["manifest"], exports = True, False
        elif word == "--exports" and current is not None:
            binaries[current]["exports"], exports = [], True
        elif exports:
            binaries[current]["exports"].append(word)
        else:
            sys.exit(f"unexpected argument {word}")
    return binaries


def main():
    binaries = parse(sys.argv[1:])
    failed = False
    for path, options in binaries.items():
        image_format, imports, problems = check(options["objdump"], path, options["exports"], options["max_size"],
                                                options["manifest"])
        print(f"{path} ({image_format}): imports {', '.join(sorted(imports))}")
        for problem in problems:
            print(f"  FAIL {problem}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
