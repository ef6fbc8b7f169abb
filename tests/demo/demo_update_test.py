#!/usr/bin/env python3
"""Runs the demo's core (demo/update_demo.py) as scripts/demo.sh does, in a
throw-away Wine prefix of the kind QUILLON_TEST_WINEARCH names, then looks at
what it left behind from outside: the prefix's registry file, the installer's
log, nginx's access log, the screenshots. The demo's own account is not taken
on trust."""
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
VERSION_FILE = "WRZ_QVLVer.ini"
INSTALLER = "WRZ_QVL_Keyward_Install.exe"
DESKTOP = (1024, 768)  # Wine's virtual desktop, as scripts/wine-session.sh makes it
SESSION = ('source "$1/scripts/wine-session.sh" && wine_session_start "$2" "$3" && '
           'python3 "$1/demo/update_demo.py" --build-dir "$4" --prefix "$2" --arch "$3" '
           '--work-dir "$5" --screenshots-dir "$6"')


def pixels(picture):
    """(width, height, rows of (r, g, b)) of a picture, read through ImageMagick."""
    size = subprocess.run(["identify", "-format", "%w %h", str(picture)], capture_output=True, text=True,
                          timeout=60).stdout.split()
    width, height = int(size[0]), int(size[1])
    raw = subprocess.run(["convert", str(picture), "-depth", "8", "rgb:-"], capture_output=True,
                         timeout=60).stdout
    rows = [[tuple(raw[(y * width + x) * 3:(y * width + x) * 3 + 3]) for x in range(width)] for y in range(height)]
    return width, height, rows


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
        cls.work = base / "work"
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
        for line in ("Quillon refused the edited announcement: the vendor's signature does not cover "
                     "LatestVersion=10 and the attacker's SHA-256",
                     "it fetched nothing more, started nothing, and says: "
                     f"\"{english['VerifyFail']}\"",
                     "Quillon found version 9 on the server (installed: 3), checked the vendor's signature over it, "
                     "and downloaded the installer over HTTPS",
                     f"so Quillon deleted it, started nothing, and says: \"{english['VerifyFail']}\"",
                     "The operator notices and publishes the genuine installer again with tools/publish_update.py",
                     "The installer is waiting: TokenManager.exe still uses R7Token.dll",
                     f"Registry now holds DisplayVersion={NEW_VERSION}",
                     f"After the update, Quillon says: {english['SoftLatest']}"):
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

    def test_nginx_served_every_file_over_https(self):
        # Its log holds each answered request as "<status> <path>". Plain HTTP
        # only answers 301, so a 200 came over HTTPS. The first version file
        # is the attacker's edit, refused with nothing more fetched; then the
        # genuine one. The first installer is the damaged copy, the second
        # the genuine one published again; the last run of Quillon fetches
        # the version file alone.
        log = self.work / "nginx" / "access.log"
        self.assertTrue(log.is_file(), "nginx kept no access log")
        self.assertEqual(log.read_text(encoding="utf-8").splitlines(),
                         [f"200 /{VERSION_FILE}", f"200 /{VERSION_FILE}", f"200 /{INSTALLER}", f"200 /{INSTALLER}",
                          f"200 /{VERSION_FILE}"])

    def test_screenshots_show_framed_windows(self):
        prefix_colours = registry_section(self.prefix / "user.reg", "Control Panel\\Colors")
        captions = [tuple(int(part) for part in prefix_colours.get(name, "").strip('"').split())
                    for name in ("ActiveTitle", "InactiveTitle")]
        self.assertTrue(all(len(caption) == 3 for caption in captions),
                        f"no title colours in the prefix: {prefix_colours}")
        # Each picture and the windows it shows: Quillon's box stands in
        # front of its dialog.
        for name, windows in (("announcement-refused", 2), ("tampered-refused", 2), ("downloading", 1),
                              ("installer-waiting", 1), ("up-to-date", 2)):
            with self.subTest(name):
                shot = self.shots / f"{name}.png"
                self.assertTrue(shot.is_file(), f"no screenshot {shot}")
                # An empty screen is one colour; a dialog brings dozens.
                colours = subprocess.run(["identify", "-format", "%k", str(shot)], capture_output=True,
                                         text=True, timeout=60).stdout
                self.assertGreater(int(colours or 0), 8, f"{shot} shows no window")
                width, height, rows = pixels(shot)
                # Cropped to the windows, not the whole desktop.
                self.assertLess(width * height, DESKTOP[0] * DESKTOP[1] // 4, f"{shot} is not cropped")
                # A title bar for each window: a band of rows in a caption
                # colour (active or not: the installer's box is not the active
                # window under Wine). The first lies just below the picture's
                # top edge, the frame of the window it is cropped to.
                bands, previous = [], None
                for y, row in enumerate(rows):
                    colour = next((caption for caption in captions if row.count(caption) > width // 3), None)
                    if colour and colour != previous:
                        bands.append(y)
                    previous = colour
                self.assertGreaterEqual(len(bands), windows, f"{shot}: a window without a title bar")
                self.assertLess(bands[0], 10, f"{shot} is not cropped to a window's frame")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--work-dir", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
