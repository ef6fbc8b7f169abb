#!/usr/bin/env python3
"""The operators' publishing script, on the host: what it leaves in the server
folder is what the updater reads."""
import configparser
import hashlib
import io
import pathlib
import sys
import tempfile
import unittest
from contextlib import redirect_stderr, redirect_stdout

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
import publish_update  # noqa: E402


def run(*argv):
    with redirect_stdout(io.StringIO()), redirect_stderr(io.StringIO()) as errors:
        try:
            return publish_update.main(list(argv)), errors.getvalue()
        except SystemExit as exit_:
            return exit_.code, errors.getvalue()


class PublishUpdate(unittest.TestCase):
    def setUp(self):
        self.tmp = pathlib.Path(tempfile.mkdtemp())
        self.server = self.tmp / "server"
        self.installer = self.tmp / "Setup.exe"
        self.installer.write_bytes(b"MZ first installer" * 1000)

    def version_file(self):
        parser = configparser.ConfigParser()
        parser.read_string((self.server / publish_update.VERSION_FILE).read_text(encoding="ascii"))
        return dict(parser["ServerSoftVersion"])

    def test_installer_and_version_file_with_its_hash(self):
        self.assertEqual(run("--installer", str(self.installer), "--version", "9", "--server-dir", str(self.server))[0], 0)
        served = self.server / publish_update.INSTALLER
        self.assertEqual(served.read_bytes(), self.installer.read_bytes())
        self.assertEqual(self.version_file(), {
            "latestversion": "9",
            "installersha256": hashlib.sha256(self.installer.read_bytes()).hexdigest(),
        })
        # CRLF line ends, as the INI reader of every Windows version takes them.
        self.assertIn(b"\r\nInstallerSha256=", (self.server / publish_update.VERSION_FILE).read_bytes())

        # The next release replaces both, and nothing half-written stays.
        self.installer.write_bytes(b"MZ second installer")
        self.assertEqual(run("--installer", str(self.installer), "--version", "10", "--server-dir", str(self.server))[0], 0)
        self.assertEqual(self.version_file()["latestversion"], "10")
        self.assertEqual(self.version_file()["installersha256"], hashlib.sha256(b"MZ second installer").hexdigest())
        self.assertEqual(sorted(p.name for p in self.server.iterdir()),
                         sorted([publish_update.INSTALLER, publish_update.VERSION_FILE]))

    def test_installer_already_in_the_server_folder(self):
        self.server.mkdir()
        served = self.server / publish_update.INSTALLER
        served.write_bytes(b"MZ in place")
        self.assertEqual(run("--installer", str(served), "--version", "3", "--server-dir", str(self.server))[0], 0)
        self.assertEqual(served.read_bytes(), b"MZ in place")
        self.assertEqual(self.version_file()["installersha256"], hashlib.sha256(b"MZ in place").hexdigest())

    def test_version_numbers_the_updater_can_compare(self):
        for text, accepted in (("1", True), ("4294967295", True), ("0", False), ("4294967296", False),
                               ("-1", False), ("9a", False), ("", False), ("+9", False), ("٣", False)):
            with self.subTest(text=text):
                code, _ = run("--installer", str(self.installer), "--version", text, "--server-dir", str(self.server))
                self.assertEqual(code == 0, accepted)
                if accepted:
                    self.assertEqual(self.version_file()["latestversion"], text)

    def test_missing_installer_writes_nothing(self):
        code, errors = run("--installer", str(self.tmp / "nothing.exe"), "--version", "9", "--server-dir", str(self.server))
        self.assertEqual(code, 1)
        self.assertIn("nothing.exe", errors)
        self.assertFalse((self.server / publish_update.VERSION_FILE).exists())


if __name__ == "__main__":
    unittest.main(verbosity=2)
