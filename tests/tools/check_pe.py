#!/usr/bin/env python3
"""Checks what a clean Windows machine needs of the built binaries.

Each binary must import only Windows system DLLs (the runtime is linked
statically) and carry the PE flags NSIS's own binaries carry: ASLR (dynamic
base), DEP (NX compatible), terminal-server aware and large-address aware.
With --exports, the export table must hold those plain names, and nothing
else but the names listed after --may-export.
"""
import re
import subprocess
import sys

SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "crypt32.dll", "gdi32.dll",
    "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "psapi.dll",
    "shell32.dll", "shlwapi.dll", "urlmon.dll", "user32.dll", "version.dll",
    "wininet.dll", "wintrust.dll",
}
DYNAMIC_BASE, NX_COMPAT, TERMINAL_SERVER_AWARE = 0x0040, 0x0100, 0x8000
LARGE_ADDRESS_AWARE = 0x0020


def check(objdump, path, exports, optional):
    dump = subprocess.run([objdump, "-p", path], check=True, capture_output=True, text=True).stdout
    problems = []
    imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)}
    foreign = sorted(imports - SYSTEM_DLLS)
    if foreign:
        problems.append(f"imports non-system DLLs: {', '.join(foreign)}")
    characteristics = int(re.search(r"^Characteristics\s+0x([0-9a-f]+)", dump, re.M).group(1), 16)
    dll_characteristics = int(re.search(r"^DllCharacteristics\s+([0-9a-f]+)", dump, re.M).group(1), 16)
    for flag, name in ((DYNAMIC_BASE, "DYNAMIC_BASE"), (NX_COMPAT, "NX_COMPAT"),
                       (TERMINAL_SERVER_AWARE, "TERMINAL_SERVER_AWARE")):
        if not dll_characteristics & flag:
            problems.append(f"DllCharacteristics lacks {name}")
    if not characteristics & LARGE_ADDRESS_AWARE:
        problems.append("Characteristics lacks LARGE_ADDRESS_AWARE")
    if exports is not None:
        table = dump.split("[Ordinal/Name Pointer] Table", 1)
        names = set(re.findall(r"^\s+\[\s*\d+\]\s+(\S+)$", table[1], re.M)) if len(table) == 2 else set()
        missing = set(exports) - names
        unexpected = names - set(exports) - set(optional)
        if missing:
            problems.append(f"does not export {sorted(missing)}")
        if unexpected:
            problems.append(f"exports unexpected names {sorted(unexpected)}")
    return imports, problems


def parse(argv):
    """--objdump TOOL, then --binary PATH [--exports NAME...] [--may-export NAME...]
    as often as needed."""
    objdump, binaries, current, target = None, {}, None, None
    words = iter(argv)
    for word in words:
        if word == "--objdump":
            objdump = next(words)
        elif word == "--binary":
            current = next(words)
            binaries[current] = {"exports": None, "optional": []}
            target = None
        elif word in ("--exports", "--may-export"):
            key = "exports" if word == "--exports" else "optional"
            binaries[current][key] = binaries[current][key] or []
            target = binaries[current][key]
        elif target is not None:
            target.append(word)
        else:
            sys.exit(f"unexpected argument {word}")
    return objdump, binaries


def main():
    objdump, binaries = parse(sys.argv[1:])
    failed = False
    for path, lists in binaries.items():
        imports, problems = check(objdump, path, lists["exports"], lists["optional"])
        print(f"{path}: imports {', '.join(sorted(imports))}")
        for problem in problems:
            print(f"  FAIL {problem}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
