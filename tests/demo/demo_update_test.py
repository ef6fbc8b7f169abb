#!/usr/bin/env python3
"""Runs the demo's core (demo/update_demo.py) as scripts/demo.sh does, in a
throw-away Wine prefix of the kind QUILLON_TEST_WINEARCH names, then looks at
what it left behind from outside: the prefix's registry file, the installer's
log, the screenshots. The demo's own account is not taken on trust."""
import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from updater_e2e_test import texts  # noqa: E402

ARGS = None
NEW_VERSION = 9
SESSION = ('source "$1/scripts/wine-session.sh" && wine_session_start "$2" "$3" && '
           'python3 "$1/demo/update_demo.py" --build-dir "$4" --prefix "$2" --arch "$3" '
           '--work-dir "$5" --screenshots-dir "$6"')


def registry_section(registry_file, key):
    """The value lines of one key in a Wine registry file, by name."""
    header = "[" + key.replace("\\", "\\\\") + "]"
    values, inside = {}, False
    for line in registry_file.read_text(encoding="utf-8", errors="replace").splitlines():
        if line.startswith("["):
            inside = line.split("] ")[0] + "]" == header
        elif inside and line.startswith('"'):
            name, data = line.split("=", 1)
            values[name.strip('"')] = data
    return values


class DemoUpdate(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.arch = os.environ.get("QUILLON_TEST_WINEARCH", "win64")
        cls.wow64 = cls.arch == "win64"
        base = pathlib.Path(ARGS.work_dir) / cls.arch
        shutil.rmtree(base, ignore_errors=True)
        base.mkdir(parents=True)
        cls.prefix = base / "prefix"
        cls.shots = base / "screenshots"
        # The session ends with the shell, which also writes the registry
        # files out.
        cls.demo = subprocess.run(
            ["bash", "-c", SESSION, "demo", str(ROOT), str(cls.prefix), cls.arch, ARGS.build_dir,
             str(base / "work"), str(cls.shots)],
            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=480)
        program_files = "Program Files (x86)" if cls.wow64 else "Program Files"
        cls.install_dir = cls.prefix / "drive_c" / program_files / "Orvanta" / "Token"

    def test_the_demo_tells_a_whole_update(self):
        output = self.demo.stdout + self.demo.stderr
        self.assertEqual(self.demo.returncode, 0, output)
        english = texts(1033)
        for line in ("Quillon found version 9 on the server (installed: 3) and is downloading the installer",
                     f"so Quillon deleted it, started nothing, and says: \"{english['DownloadFail']}\"",
                     "The installer is waiting: TokenManager.exe still uses R7Token.dll",
                     f"Registry now holds DisplayVersion={NEW_VERSION}",
                     f"Second run: Quillon says: {english['SoftLatest']}"):
            self.assertIn(line, self.demo.stdout, output)
        self.assertNotIn("DEMO FAILED", output)

    def test_the_prefix_holds_the_update(self):
        registry = self.prefix / "system.reg"
        self.assertTrue(registry.is_file(), "the prefix has no registry file")
        updater_view = "Software\\Wow6432Node\\Orvanta\\58P7M_WRZ" if self.wow64 else "Software\\Orvanta\\58P7M_WRZ"
        product = registry_section(registry, updater_view)
        self.assertEqual(product.get("DisplayVersion"), f"dword:{NEW_VERSION:08x}", product)
        self.assertNotIn("LegacyChannel", product)
        if self.wow64:
            # The installer wrote InstallPath to both views, the version to
            # the 32-bit one alone. Registry files double each backslash.
            install_path = "C:\\" + "\\".join(self.install_dir.relative_to(self.prefix / "drive_c").parts)
            other_view = registry_section(registry, "Software\\Orvanta\\58P7M_WRZ")
            self.assertEqual(other_view, {"InstallPath": '"' + install_path.replace("\\", "\\\\") + '"'})

        log = (self.install_dir / "update.log").read_text(encoding="utf-16").splitlines()
        self.assertEqual([line for line in log if not line.startswith("windows=")],
                         ["started=9", "running_before=1", "running_after=0",
                          f"windows_64bit={1 if self.wow64 else 0}", "legacy_value_deleted=1",
                          "shared_dir=C:\\ProgramData\\Orvanta\\TokenShared", "shared_dir_created=1",
                          "finished=9"])
        self.assertTrue((self.prefix / "drive_c" / "ProgramData" / "Orvanta" / "TokenShared").is_dir())

    def test_screenshots_show_the_windows(self):
        for name in ("tampered-refused", "downloading", "installer-waiting", "up-to-date"):
            with self.subTest(name):
                shot = self.shots / f"{name}.png"
                self.assertTrue(shot.is_file(), f"no screenshot {shot}")
                # An empty screen is one colour; a dialog brings dozens.
                colours = subprocess.run(["identify", "-format", "%k", str(shot)], capture_output=True,
                                         text=True, timeout=60).stdout
                self.assertGreater(int(colours or 0), 8, f"{shot} shows no window")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--work-dir", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
