#!/usr/bin/env python3
"""Checks what a clean Windows machine needs of the built binaries.

Each binary must import only Windows system DLLs (the runtime is linked
statically), carry the PE flags NSIS's own binaries carry: ASLR (dynamic
base), DEP (NX compatible), terminal-server aware and large-address aware,
and declare Windows 7 (6.1) as its OS and subsystem version, so that an older
Windows refuses it with its own message. A 64-bit image must also take ASLR's
addresses above 4 GB (high-entropy virtual addresses). With --exports, the
export table must hold exactly those plain names; with --max-size, the file
must be smaller than that many bytes.
"""
import os
import re
import subprocess
import sys

SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "crypt32.dll", "gdi32.dll",
    "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "psapi.dll",
    "shell32.dll", "shlwapi.dll", "urlmon.dll", "user32.dll", "version.dll",
    "wininet.dll", "wintrust.dll",
}
HIGH_ENTROPY_VA, DYNAMIC_BASE, NX_COMPAT, TERMINAL_SERVER_AWARE = 0x0020, 0x0040, 0x0100, 0x8000
LARGE_ADDRESS_AWARE = 0x0020
MINIMUM_WINDOWS = (6, 1)  # Windows 7


def check(objdump, path, exports, max_size):
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
    return image_format, imports, problems


def parse(argv):
    """--objdump TOOL, then --binary PATH [--max-size BYTES] [--exports NAME...]
    as often as needed; each --objdump serves the binaries after it."""
    objdump, binaries, current = None, {}, None
    words = iter(argv)
    for word in words:
        if word == "--objdump":
            objdump, current = next(words), None
        elif word == "--binary":
            current = next(words)
            binaries[current] = {"objdump": objdump, "exports": None, "max_size": None}
        elif word == "--max-size" and current is not None:
            binaries[current]["max_size"] = int(next(words))
        elif word == "--exports" and current is not None:
            binaries[current]["exports"] = []
        elif current is not None and binaries[current]["exports"] is not None:
            binaries[current]["exports"].append(word)
        else:
            sys.exit(f"unexpected argument {word}")
    return binaries


def main():
    binaries = parse(sys.argv[1:])
    failed = False
    for path, options in binaries.items():
        image_format, imports, problems = check(options["objdump"], path, options["exports"], options["max_size"])
        print(f"{path} ({image_format}): imports {', '.join(sorted(imports))}")
        for problem in problems:
            print(f"  FAIL {problem}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
