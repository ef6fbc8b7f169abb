#!/usr/bin/env python3
"""The real Quillon.exe against a server that misbehaves, one fault at a
time, on the version file or on the installer. Every run must end in a state
the user can act on (a box, or the installer started) and then exit with 0:
never a crash, never a process that stays behind.

Where Windows and Wine 8 differ, a case allows both outcomes and says which is
whose: Wine's urlmon never ends a download whose connection was reset. An
HTTP error status fails the download on both, so do 204, 206 and a 3xx that
was not followed, and a body shorter than its announced length; only a whole
Windows program is ever handed to the shell. No run leaves a downloaded file
behind but an installer it started."""
import hashlib
import pathlib
import sys
import time
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import updater_e2e_test as harness  # noqa: E402
from updater_e2e_test import FAILED, INSTALLER, REFUSED, STARTED, UP_TO_DATE, VERSION_FILE  # noqa: E402
from updater_e2e_test import STILL_RUNNING as CANCELLED  # the download never ends by itself: cancelled by the user

IDCANCEL = 2


class FaultMatrix(harness.UpdaterCase):
    def prepare(self, with_hash):
        server, root = self.server_for_this_windows()
        self.install_product(version=3, url32=f"{server.url}/files", url64=f"{server.url}/files")
        self.publish(root, latest=7)  # mark_file.exe as the installer
        if with_hash:
            digest = hashlib.sha256((root / INSTALLER).read_bytes()).hexdigest()
            (root / VERSION_FILE).write_text(
                f"[ServerSoftVersion]\r\nLatestVersion=7\r\nInstallerSha256={digest}\r\n", encoding="ascii")
        return server

    def test_matrix(self):
        # (file, fault, InstallerSha256 in the version file, allowed outcomes)
        cases = [
            (VERSION_FILE, "404", False, {FAILED}),
            (VERSION_FILE, "500", False, {FAILED}),
            (VERSION_FILE, "html", False, {UP_TO_DATE}),          # an error page sent as 200 OK
            (VERSION_FILE, "trickle/20", False, {STARTED}),       # slow, but whole
            (VERSION_FILE, "truncate", False, {UP_TO_DATE, STARTED}),  # half the file may still hold the number
            (VERSION_FILE, "reset", False, {FAILED, CANCELLED}),  # Windows: failed; Wine: never ends
            (VERSION_FILE, "short", False, {FAILED}),             # closed in order before its announced length
            (VERSION_FILE, "status/204", False, {FAILED}),        # no body: not the file
            (VERSION_FILE, "status/206", False, {FAILED}),        # a part of it
            (VERSION_FILE, "status/300", False, {FAILED}),        # a redirect without a target, not followed
            (INSTALLER, "404", False, {FAILED}),
            (INSTALLER, "404", True, {FAILED}),
            (INSTALLER, "html", False, {REFUSED}),                # a page sent with 200 is no program
            (INSTALLER, "500", True, {FAILED}),
            (INSTALLER, "reset", False, {FAILED, CANCELLED}),
            (INSTALLER, "reset", True, {FAILED, CANCELLED}),
            (INSTALLER, "truncate", False, {REFUSED}),            # sections missing: no whole program
            (INSTALLER, "truncate", True, {REFUSED}),
            (INSTALLER, "short", False, {FAILED}),
            (INSTALLER, "status/206", False, {FAILED}),
            (INSTALLER, "stall/3000", True, {STARTED}),           # a pause halfway, then the rest
        ]
        for name, fault, with_hash, allowed in cases:
            with self.subTest(file=name, fault=fault, hash=with_hash):
                self.setUp()
                server = self.prepare(with_hash)
                server.file_faults[name] = fault
                started = time.time()
                self.start_updater()
                result, code = self.outcome(patience=15)
                print(f"\n  {name} {fault}{' +hash' if with_hash else ''}: {result} "
                      f"in {time.time() - started:.1f} s", file=sys.stderr)
                self.assertIn(result, allowed)
                self.assertEqual(code, 0)
                if result != STARTED:
                    self.assertEqual(self.installer_marks(), [])
                    self.assertEqual(self.download_dirs(), [], "a downloaded file stayed behind")

    def test_cancel_during_a_stalled_download(self):
        # The download outlives the process's wait for it: the process ends
        # while the download is still running, and leaves no file behind.
        server = self.prepare(with_hash=False)
        server.file_faults[INSTALLER] = "stall/15000"
        self.start_updater()
        self.assertEqual(self.driver("dialog 30000", timeout=40), "ok")
        # Wait until the installer's first half has arrived and the stall began.
        end = time.time() + 30
        while time.time() < end and f"/files/{INSTALLER}" not in server.requests:
            time.sleep(0.2)
        time.sleep(2)
        pressed = time.time()
        self.assertEqual(self.driver(f"press {IDCANCEL}"), "ok")
        self.assertEqual(self.driver("gone 10000", timeout=20), "ok", "the dialog did not close at once")
        self.assertEqual(self.updater.wait(timeout=40), 0)
        print(f"\n  stalled download: the process exits {time.time() - pressed:.1f} s after Cancel",
              file=sys.stderr)
        self.assertEqual(self.installer_marks(), [])
        self.assertEqual(self.download_dirs(), [], "a downloaded file stayed behind")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + harness.parse_arguments(), verbosity=2)
