#!/usr/bin/env python3
"""Publishes an update for Quillon: puts the installer into the server
directory under the name the updater fetches and writes the version file
beside it, with the installer's SHA-256.

    publish_update.py --installer Setup.exe --version 9 --server-dir /srv/www/quillon

The server directory is the folder that SoftServerUrl (or SoftServerUrl_X64)
names. Afterwards it holds:

    WRZ_QVL_Keyward_Install.exe   the installer
    WRZ_QVLVer.ini                [ServerSoftVersion]
                                  LatestVersion=9
                                  InstallerSha256=<64 hex digits>

Each file is written under a temporary name and then renamed, the installer
first, so that a client never reads half a file and never reads a version
file whose installer is not there yet. Sign the installer before publishing:
signing changes the file and so its hash.
"""
import argparse
import hashlib
import os
import pathlib
import shutil
import sys
import tempfile

VERSION_FILE = "WRZ_QVLVer.ini"
INSTALLER = "WRZ_QVL_Keyward_Install.exe"
MAX_VERSION = 0xFFFFFFFF  # DisplayVersion is a REG_DWORD


def version_number(text):
    """LatestVersion as the updater compares it: a whole number 1..4294967295,
    written in plain decimal."""
    if not (text.isascii() and text.isdigit()) or not 1 <= int(text) <= MAX_VERSION:
        raise argparse.ArgumentTypeError(f"not a version number from 1 to {MAX_VERSION}: {text!r}")
    return int(text)


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as data:
        for block in iter(lambda: data.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def replace_atomically(directory, name, write):
    """Writes directory/name through a temporary file in the same directory."""
    handle, temporary = tempfile.mkstemp(dir=directory, prefix=f".{name}.", suffix=".part")
    try:
        with os.fdopen(handle, "wb") as target:
            write(target)
        os.chmod(temporary, 0o644)
        os.replace(temporary, directory / name)
    except BaseException:
        pathlib.Path(temporary).unlink(missing_ok=True)
        raise


def version_file_text(version, sha256):
    return f"[ServerSoftVersion]\r\nLatestVersion={version}\r\nInstallerSha256={sha256}\r\n"


def publish(installer, version, server_dir):
    installer = pathlib.Path(installer)
    server_dir = pathlib.Path(server_dir)
    if not installer.is_file():
        raise FileNotFoundError(f"no installer at {installer}")
    server_dir.mkdir(parents=True, exist_ok=True)
    target = server_dir / INSTALLER
    if not (target.exists() and target.resolve() == installer.resolve()):
        with open(installer, "rb") as source:
            replace_atomically(server_dir, INSTALLER, lambda out: shutil.copyfileobj(source, out))
    sha256 = sha256_of(target)
    replace_atomically(server_dir, VERSION_FILE,
                       lambda out: out.write(version_file_text(version, sha256).encode("ascii")))
    return sha256


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--installer", required=True, help="the (signed) installer to publish")
    parser.add_argument("--version", required=True, type=version_number,
                        help="its version number, the DisplayVersion it installs")
    parser.add_argument("--server-dir", required=True, help="the folder the server address names")
    args = parser.parse_args(argv)
    try:
        sha256 = publish(args.installer, args.version, args.server_dir)
    except OSError as error:
        print(f"publish_update: {error}", file=sys.stderr)
        return 1
    print(f"published version {args.version} in {args.server_dir}\n  {INSTALLER}\n  {VERSION_FILE}: "
          f"LatestVersion={args.version} InstallerSha256={sha256}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
