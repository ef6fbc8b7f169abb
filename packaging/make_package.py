#!/usr/bin/env python3
"""Writes the release packages so that two builds of one commit give the same
bytes.

    make_package.py zip --epoch SECONDS --output NAME.zip PATH_IN_ZIP=FILE...
    make_package.py sums --output SHA256SUMS FILE...

zip: the entries in the order of their paths in the zip, each dated
SECONDS (SOURCE_DATE_EPOCH, UTC), with mode 0755 for Python scripts and 0644
for everything else, whatever the files' own dates, modes and owners are on
the build machine. Only files: unzipping makes the folders.

sums: one "<sha256>  <file name>" line per file, sorted by name, the form
that `sha256sum -c` checks in the folder of the files.
"""
import argparse
import hashlib
import pathlib
import sys
import time
import zipfile

# A zip date cannot be earlier than this (MS-DOS dates start in 1980).
EARLIEST_ZIP_DATE = 315532800  # 1980-01-01 00:00:00 UTC
UNIX = 3  # "made by" system: the modes in external_attr are Unix modes


def zip_entry(path_in_zip, epoch):
    date = time.gmtime(max(epoch, EARLIEST_ZIP_DATE))[:6]
    entry = zipfile.ZipInfo(path_in_zip, date_time=date)
    entry.create_system = UNIX
    mode = 0o755 if path_in_zip.endswith(".py") else 0o644
    entry.external_attr = (0o100000 | mode) << 16  # a regular file
    entry.compress_type = zipfile.ZIP_DEFLATED
    return entry


def parse_entries(words):
    entries = {}
    for word in words:
        path_in_zip, separator, file = word.partition("=")
        if not separator or not path_in_zip or not file:
            raise SystemExit(f"make_package: not PATH_IN_ZIP=FILE: {word!r}")
        if path_in_zip.startswith("/") or ".." in path_in_zip.split("/") or "\\" in path_in_zip:
            raise SystemExit(f"make_package: not a relative path with '/': {path_in_zip!r}")
        if path_in_zip in entries:
            raise SystemExit(f"make_package: {path_in_zip} given twice")
        entries[path_in_zip] = pathlib.Path(file)
    return entries


def write_zip(output, epoch, entries):
    output = pathlib.Path(output)
    output.parent.mkdir(parents=True, exist_ok=True)
    partial = output.with_name(output.name + ".part")
    with zipfile.ZipFile(partial, "w") as package:
        for path_in_zip in sorted(entries):
            package.writestr(zip_entry(path_in_zip, epoch), entries[path_in_zip].read_bytes(), compresslevel=9)
    partial.replace(output)


def sha256_of(path):
    return hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest()


def write_sums(output, files):
    files = sorted(files, key=lambda file: pathlib.Path(file).name)
    lines = [f"{sha256_of(file)}  {pathlib.Path(file).name}\n" for file in files]
    pathlib.Path(output).write_text("".join(lines), encoding="ascii", newline="\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    pack = commands.add_parser("zip")
    pack.add_argument("--epoch", type=int, required=True)
    pack.add_argument("--output", required=True)
    pack.add_argument("entries", nargs="+")
    sums = commands.add_parser("sums")
    sums.add_argument("--output", required=True)
    sums.add_argument("files", nargs="+")
    args = parser.parse_args()
    if args.command == "zip":
        write_zip(args.output, args.epoch, parse_entries(args.entries))
    else:
        write_sums(args.output, args.files)
    return 0


if __name__ == "__main__":
    sys.exit(main())
