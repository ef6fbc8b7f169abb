#!/usr/bin/env python3
"""A makensis-built installer asks Plugin for the Windows version and for
64-bit support, under the Windows versions Wine can pretend to be."""
import os
import pathlib
import subprocess
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import nsis_harness  # noqa: E402

ARGS = nsis_harness.ARGS
HERE = pathlib.Path(__file__).parent

# Wine version name -> the word scripts rely on.
VERSION_WORDS = {
    "win2k": "2K",
    "winxp": "XP",
    "win2003": "2003",
    "vista": "Vista",
    "win7": "Vista",
    "win81": "Vista",
    "win10": "Win7",
}


def set_app_version(exe_name, version):
    """Makes Wine report version to one program only (its AppDefaults key)."""
    key = rf"HKCU\Software\Wine\AppDefaults\{exe_name}"
    if version is None:
        subprocess.run(["wine", "reg", "delete", key, "/f"], capture_output=True)
    else:
        subprocess.run(["wine", "reg", "add", key, "/v", "Version", "/d", version, "/f"],
                       check=True, capture_output=True)


class SystemQueries(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.installer, cls.result = nsis_harness.compile_installer(
            HERE / "system_queries.nsi", ARGS.work_dir, ARGS.plugin_dir, "system-queries")

    def tearDown(self):
        set_app_version(self.installer.name, None)

    def test_is_support64_matches_the_prefix(self):
        arch = os.environ.get("QUILLON_TEST_WINEARCH")
        if not arch:
            self.skipTest("QUILLON_TEST_WINEARCH not set")
        lines = nsis_harness.run_installer(self.installer, self.result)
        self.assertIsNotNone(lines, "the installer wrote no result")
        self.assertIn("support64=[%s]" % ("1" if arch == "win64" else "0"), lines)

    def test_version_words(self):
        for version, word in VERSION_WORDS.items():
            with self.subTest(version=version):
                set_app_version(self.installer.name, version)
                lines = nsis_harness.run_installer(self.installer, self.result)
                self.assertIsNotNone(lines, "the installer wrote no result")
                self.assertIn(f"version=[{word}]", lines)


if __name__ == "__main__":
    nsis_harness.main()
