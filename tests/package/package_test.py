#!/usr/bin/env python3
"""The release packages as their users get them.

The zips hold the files their users are promised and no others, with the
binaries of this build; the documents in them link only to files inside
them; SHA256SUMS verifies; the sample version file has the keys that
tools/publish_update.py writes.

Plugin-<version>.zip is unpacked over a throw-away copy of Debian's NSIS
(/usr/share/nsis), makensis is pointed at that copy with NSISDIR, and
Examples/Plugin/Example.nsi compiles there as it stands, with warnings as
errors, as a 32-bit installer and, with nothing but the target changed, as
a 64-bit one. Each installer and then its uninstaller run silently in this
test's prefix (the 64-bit one in a 64-bit prefix), and what they leave in
the registry and on disk is read back. Unpacked anywhere else, the example
compiles for either target with the package's Include folder added and
nothing more.
"""
import argparse
import configparser
import hashlib
import os
import pathlib
import re
import shutil
import subprocess
import sys
import unittest
import zipfile

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "nsis"))
sys.path.insert(0, str(ROOT / "tools"))
import nsis_harness  # noqa: E402
import publish_update  # noqa: E402

ARGS = None
NSIS = pathlib.Path("/usr/share/nsis")
VENDOR_KEY = r"Software\Example Vendor"
PRODUCT_KEY = VENDOR_KEY + r"\Example Product"
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\ExampleProduct"
INSTALL_DIR = r"C:\QuillonTests\ExampleProduct"
PLUGIN_FILES = {"Plugins/x86-unicode/Plugin.dll", "Plugins/amd64-unicode/Plugin.dll", "Include/Plugin.nsh",
                "Docs/Plugin/Readme.md", "Examples/Plugin/Example.nsi"}
# What makensis is told besides the script, and the machine of the
# installer it makes, per target.
TARGETS = {"x86-unicode": [], "amd64-unicode": ["-XTarget amd64-unicode"]}
MACHINES = {"x86-unicode": 0x14C, "amd64-unicode": 0x8664}
QUILLON_FILES = {"Quillon.exe", "docs/samples/WRZ_QVLVer.ini", "tools/publish_update.py", "docs/updater.md",
                 "docs/nginx/quillon-updates.conf"} | {
    f"docs/images/144dpi-{language}-{window}.png"
    for language in (1033, 1036) for window in ("downloading", "download-failed", "up-to-date")}
# Markdown links to a file, not to a web address or an anchor of the same page.
RELATIVE_LINK = re.compile(r"\]\((?![a-z]+:|#)([^)#\s]+)")


def version():
    return (ROOT / "VERSION").read_text(encoding="ascii").split()[0]


def package(name):
    return pathlib.Path(ARGS.dist_dir) / f"{name}-{version()}.zip"


def makensis(*args, nsis_dir=None):
    env = dict(os.environ)
    if nsis_dir:
        env["NSISDIR"] = str(nsis_dir)
    built = subprocess.run(["makensis", "-WX", "-V2", *map(str, args)], capture_output=True, text=True, env=env,
                           timeout=120)
    if built.returncode != 0:
        raise AssertionError(f"makensis {' '.join(map(str, args))} failed:\n{built.stdout}{built.stderr}")


def drive_c():
    return pathlib.Path(os.environ["WINEPREFIX"]) / "drive_c"


def unix_path(windows_path):
    return drive_c().joinpath(*windows_path[3:].split("\\"))


def pe_machine(path):
    """The machine field of a PE file's header: 0x14C i386, 0x8664 x86-64."""
    data = path.read_bytes()
    pe = int.from_bytes(data[0x3C:0x40], "little")
    return int.from_bytes(data[pe + 4:pe + 6], "little")


def run_silently(program, *args):
    done = subprocess.run(["wine", str(program), "/S", *args], env=nsis_harness.wine_env(),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    return done.returncode


class PackageContents(unittest.TestCase):
    def test_each_zip_holds_what_its_users_are_promised(self):
        bin_dir = pathlib.Path(ARGS.bin_dir)
        plugins = {"Plugins/x86-unicode/Plugin.dll": "Plugin.dll",
                   "Plugins/amd64-unicode/Plugin.dll": "amd64-unicode/Plugin.dll"}
        for name, files, binaries in (("Plugin", PLUGIN_FILES, plugins),
                                      ("Quillon", QUILLON_FILES, {"Quillon.exe": "Quillon.exe"})):
            with self.subTest(package=name), zipfile.ZipFile(package(name)) as zipped:
                self.assertEqual(set(zipped.namelist()), files)
                for inside, built in binaries.items():
                    self.assertEqual(zipped.read(inside), (bin_dir / built).read_bytes(),
                                     f"{inside} is not this build's {built}")
                for document in (path for path in files if path.endswith(".md")):
                    folder = pathlib.PurePosixPath(document).parent
                    for target in RELATIVE_LINK.findall(zipped.read(document).decode("utf-8")):
                        linked = os.path.normpath(str(folder / target)).replace(os.sep, "/")
                        self.assertIn(linked, files, f"{document} links to {target}, which the zip lacks")

    def test_the_checksums_verify(self):
        dist = pathlib.Path(ARGS.dist_dir)
        sums = (dist / "SHA256SUMS").read_text(encoding="ascii").splitlines()
        self.assertEqual([line.split("  ", 1)[1] for line in sums],
                         [package("Plugin").name, package("Quillon").name])
        checked = subprocess.run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=dist,
                                 capture_output=True, text=True)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        # And sha256sum is not the only judge.
        for line in sums:
            digest, name = line.split("  ", 1)
            self.assertEqual(hashlib.sha256((dist / name).read_bytes()).hexdigest(), digest)

    def test_the_sample_version_file_has_the_published_keys(self):
        def keys(text):
            parser = configparser.ConfigParser(comment_prefixes=(";",))
            parser.optionxform = str
            parser.read_string(text)
            return {section: sorted(parser[section]) for section in parser.sections()}
        with zipfile.ZipFile(package("Quillon")) as zipped:
            sample = zipped.read("docs/samples/WRZ_QVLVer.ini").decode("ascii")
        self.assertEqual(keys(sample), keys(publish_update.version_file_text(9, "0" * 64, b"\x30\x00")))


class PluginPackageOverNsis(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = pathlib.Path(ARGS.work_dir).resolve() / nsis_harness.prefix_arch()
        shutil.rmtree(cls.work, ignore_errors=True)
        cls.nsis = cls.work / "nsis"
        shutil.copytree(NSIS, cls.nsis)
        with zipfile.ZipFile(package("Plugin")) as zipped:
            zipped.extractall(cls.nsis)
        cls.example = cls.nsis / "Examples" / "Plugin"

    def setUp(self):
        self.clean()
        self.addCleanup(self.clean)

    @staticmethod
    def clean():
        nsis_harness.remove_registry_key(PRODUCT_KEY, VENDOR_KEY)
        for view in ("/reg:32", "/reg:64"):
            nsis_harness.wine_reg("delete", "HKLM\\" + UNINSTALL_KEY, "/f", view)
        shutil.rmtree(unix_path(INSTALL_DIR), ignore_errors=True)
        shutil.rmtree(drive_c() / "ProgramData" / "Example Vendor", ignore_errors=True)

    def test_the_example_installs_and_uninstalls(self):
        self.install_and_uninstall("x86-unicode")

    def test_the_example_installs_and_uninstalls_as_a_64_bit_installer(self):
        if nsis_harness.prefix_arch() != "win64":
            self.skipTest("a 32-bit prefix runs no 64-bit installers")
        self.install_and_uninstall("amd64-unicode")

    def install_and_uninstall(self, target):
        makensis(*TARGETS[target], self.example / "Example.nsi", nsis_dir=self.nsis)
        setup = self.example / "ExampleSetup.exe"
        self.assertEqual(pe_machine(setup), MACHINES[target])
        self.assertEqual(run_silently(setup, f"/D={INSTALL_DIR}"), 0)

        wow64 = nsis_harness.prefix_arch() == "win64"
        product = nsis_harness.read_registry_tree(PRODUCT_KEY, 32).get("", {})
        self.assertEqual(product, {"InstallPath": ("REG_SZ", INSTALL_DIR), "Version": ("REG_DWORD", "0x1"),
                                   "Features": ("REG_BINARY", "0103")})
        if wow64:
            self.assertEqual(nsis_harness.read_registry_tree(PRODUCT_KEY, 64),
                             {"": {"InstallPath": ("REG_SZ", INSTALL_DIR)}})
        installed = unix_path(INSTALL_DIR)
        self.assertEqual(sorted(path.name for path in installed.iterdir()), ["Example.nsi", "Uninstall.exe"])
        self.assertEqual((installed / "Example.nsi").read_bytes(), (self.example / "Example.nsi").read_bytes())
        shared = drive_c() / "ProgramData" / "Example Vendor" / "Example Product"
        self.assertTrue((shared / "shared.ini").is_file(), "RWCreate made no shared.ini")

        # _?= keeps the uninstaller in place, so that the run ends when it has.
        self.assertEqual(run_silently(installed / "Uninstall.exe", f"_?={INSTALL_DIR}"), 0)
        for view in (32, 64) if wow64 else (32,):
            with self.subTest(view=view):
                self.assertEqual(nsis_harness.read_registry_tree(VENDOR_KEY, view), {},
                                 "the vendor's key is left behind")
        self.assertFalse((installed / "Example.nsi").exists())
        self.assertFalse(shared.parent.exists(), "the shared folder is left behind")

    def test_the_example_compiles_beside_an_unpacked_package(self):
        # Debian's own NSIS, which has no Plugin.dll: only the package's
        # layout can lead the header to it.
        for target in TARGETS:
            self.assertFalse((NSIS / "Plugins" / target / "Plugin.dll").exists())
        unpacked = self.work / "unpacked"
        with zipfile.ZipFile(package("Plugin")) as zipped:
            zipped.extractall(unpacked)
        setup = unpacked / "Examples" / "Plugin" / "ExampleSetup.exe"
        for target in TARGETS:
            with self.subTest(target=target):
                setup.unlink(missing_ok=True)
                makensis(*TARGETS[target], f"-X!addincludedir {unpacked / 'Include'}",
                         unpacked / "Examples" / "Plugin" / "Example.nsi")
                self.assertEqual(pe_machine(setup), MACHINES[target])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--dist-dir", required=True)
    parser.add_argument("--bin-dir", required=True)
    parser.add_argument("--work-dir", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
