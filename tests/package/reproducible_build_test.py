#!/usr/bin/env python3
"""Builds the release twice, as two people would who each have this source
tree: each runs scripts/package.sh in a copy of its own. The copies differ in
everything a build must not depend on: their folders and the lengths of the
paths, the time of the build and of the files, the number of jobs, the umask,
the time zone and the home folder. One copy is a git clone and takes its time
from the commit by itself; the other has no git and is given the commit's
time in SOURCE_DATE_EPOCH.

Both must give the same packages and checksums, byte for byte, and the same
Quillon.exe and Plugin.dll, the 64-bit Plugin.dll too. The binaries must
carry the commit's time in the PE header (and in the plug-ins' export
directories) and no path of either copy.

The copies hold the working tree as it is, uncommitted changes included; the
commit's time is that of HEAD.
"""
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
# Below build/package/bin/ in each copy.
BINARIES = ("Quillon.exe", "Plugin.dll", "amd64-unicode/Plugin.dll")
FALLBACK_EPOCH = 1700000000  # for a source tree outside git
BUILD_TIMEOUT = 600


def git(*args, cwd=ROOT):
    return subprocess.run(["git", *args], cwd=cwd, capture_output=True, check=True).stdout


def in_git_checkout():
    """True when ROOT is the top of a git working tree (not a folder inside another one)."""
    try:
        top = git("rev-parse", "--show-toplevel").decode().strip()
    except (OSError, subprocess.CalledProcessError):
        return False
    return pathlib.Path(top).resolve() == ROOT


def working_tree_files():
    """(files to copy, tracked files deleted in the working tree), relative to ROOT."""
    if not in_git_checkout():
        skip = {"build", "dist", ".git", "__pycache__"}
        files = [path.relative_to(ROOT) for path in ROOT.rglob("*")
                 if path.is_file() and not skip & set(path.relative_to(ROOT).parts)]
        return files, []
    listed = git("ls-files", "-z", "--cached", "--others", "--exclude-standard").split(b"\0")
    deleted = {name for name in git("ls-files", "-z", "--deleted").split(b"\0") if name}
    files = [pathlib.Path(os.fsdecode(name)) for name in listed if name and name not in deleted]
    return files, [pathlib.Path(os.fsdecode(name)) for name in deleted]


def copy_files(files, target, mtime=None):
    for relative in files:
        destination = target / relative
        destination.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(ROOT / relative, destination)
        if mtime is not None:
            os.utime(destination, (mtime, mtime))


def pe_times(path):
    """(PE header time, export directory time or None) of a 32-bit or 64-bit image."""
    data = path.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise AssertionError(f"{path} is no PE image")
    sections, header_time = struct.unpack_from("<HI", data, pe + 6)
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    # Data directory 0, after the optional header's fixed part: 96 bytes in
    # PE32, 112 in PE32+.
    directories = optional + (112 if struct.unpack_from("<H", data, optional)[0] == 0x20B else 96)
    export_rva, export_size = struct.unpack_from("<II", data, directories)
    if not export_size:
        return header_time, None
    table = optional + optional_size
    for index in range(sections):
        virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from("<IIII", data, table + 40 * index + 8)
        if virtual_address <= export_rva < virtual_address + max(virtual_size, raw_size):
            return header_time, struct.unpack_from("<I", data, raw_offset + export_rva - virtual_address + 4)[0]
    raise AssertionError(f"{path}: the export directory lies in no section")


class ReproducibleRelease(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temporary = tempfile.TemporaryDirectory(prefix="quillon-release-")
        base = pathlib.Path(cls.temporary.name)
        files, deleted = working_tree_files()
        cls.version = (ROOT / "VERSION").read_text(encoding="ascii").split()[0]
        cls.with_git = in_git_checkout()
        cls.epoch = int(git("log", "-1", "--format=%ct").decode()) if cls.with_git else FALLBACK_EPOCH

        # The first copy: a clone of the commit with the working tree's
        # changes over it; its build takes the commit's time from git.
        cls.first = base / "a" / "Quillon"
        if cls.with_git:
            git("clone", "--quiet", "--no-hardlinks", str(ROOT), str(cls.first), cwd=base)
            for relative in deleted:
                (cls.first / relative).unlink(missing_ok=True)
        copy_files(files, cls.first)
        # The second: files alone, at a longer path, all dated long ago.
        cls.second = base / "second-builder" / "work" / "sources" / "quillon-tree"
        copy_files(files, cls.second, mtime=1000000000)

        cls.runs = {}
        first_env = {"CMAKE_BUILD_PARALLEL_LEVEL": "1", "TZ": "UTC", "HOME": str(base / "a")}
        second_env = {"CMAKE_BUILD_PARALLEL_LEVEL": "2", "TZ": "Pacific/Chatham",
                      "HOME": str(base / "second-builder"), "SOURCE_DATE_EPOCH": str(cls.epoch)}
        if not cls.with_git:
            first_env["SOURCE_DATE_EPOCH"] = str(cls.epoch)
        for tree, env, umask in ((cls.first, first_env, 0o022), (cls.second, second_env, 0o077)):
            cls.runs[tree] = cls.package(tree, env, umask)

    @classmethod
    def tearDownClass(cls):
        cls.temporary.cleanup()

    @staticmethod
    def package(tree, extra_env, umask):
        env = {key: value for key, value in os.environ.items()
               if key not in ("SOURCE_DATE_EPOCH", "QUILLON_BUILD_DIR", "CMAKE_BUILD_PARALLEL_LEVEL")}
        env.update(extra_env)
        return subprocess.run(["bash", str(tree / "scripts" / "package.sh")], cwd=tree, env=env,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=BUILD_TIMEOUT,
                              preexec_fn=lambda: os.umask(umask))

    def outputs(self, tree):
        """{name: bytes} of what a copy's package.sh made: dist/ and the two binaries."""
        run = self.runs[tree]
        self.assertEqual(run.returncode, 0, f"package.sh failed in {tree}:\n{run.stdout}{run.stderr}")
        made = {f"dist/{path.name}": path.read_bytes() for path in sorted((tree / "dist").iterdir())}
        for name in BINARIES:
            made[name] = (tree / "build" / "package" / "bin" / name).read_bytes()
        return made

    def test_both_copies_make_the_same_bytes(self):
        first, second = self.outputs(self.first), self.outputs(self.second)
        expected = [f"dist/Plugin-{self.version}.zip", f"dist/Quillon-{self.version}.zip", "dist/SHA256SUMS"]
        self.assertEqual(sorted(first), sorted(expected + list(BINARIES)))
        self.assertEqual(sorted(first), sorted(second))
        differing = [name for name in first if first[name] != second[name]]
        self.assertEqual(differing, [], "these differ between the two builds")

    def test_the_binaries_carry_the_commit_time_and_no_build_path(self):
        for tree in (self.first, self.second):
            made = self.outputs(tree)
            for name in BINARIES:
                with self.subTest(tree=tree.name, binary=name):
                    header_time, export_time = pe_times(tree / "build" / "package" / "bin" / name)
                    self.assertEqual(header_time, self.epoch, "PE header time")
                    if name.endswith(".dll"):
                        self.assertEqual(export_time, self.epoch, "export directory time")
                    # Both copies lie below this folder.
                    folder = self.temporary.name
                    for encoding in ("utf-8", "utf-16-le"):
                        self.assertNotIn(folder.encode(encoding), made[name],
                                         f"{name} holds the path {folder} ({encoding})")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[1:], verbosity=2)
