#!/usr/bin/env python3
"""The real Quillon.exe against Debian's nginx, configured as
docs/nginx/quillon-updates.conf tells a vendor to: HTTPS from a test CA that
only this Wine prefix trusts, plain HTTP redirecting to HTTPS, gzip on. Every
server error must end in the failure box (or the up-to-date box where the
version file holds no number), with nothing started that is not a genuine
program, and the process must exit with 0.

Test-only locations are added to the HTTPS server: fixed error statuses, a
switchable maintenance answer, a redirect loop, a redirect to a server whose
CA nobody trusts, slow folders, and a CDN address behind a redirect whose
answers may be cached for an hour. A server that closes the connection in
the middle of its headers is a few lines of socket code here: nginx cannot be
made to do that.

No run may leave a downloaded file behind but an installer it started."""
import pathlib
import random
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
sys.path.insert(0, str(ROOT / "standins" / "code_signing"))
sys.path.insert(0, str(ROOT / "tests" / "nsis"))
import test_pki  # noqa: E402
import updater_e2e_test as harness  # noqa: E402
from nsis_harness import windows_path  # noqa: E402
from nginx_server import NginxServer, trust_ca_in_prefix, untrust_ca_in_prefix  # noqa: E402
from updater_e2e_test import (ENGLISH, FAILED, INSTALLER, MB_RETRYCANCEL_BUTTONS, OTHER_BOX, REFUSED,  # noqa: E402
                              STARTED, STILL_RUNNING, UP_TO_DATE, VERSION_FILE)

IDOK, IDCANCEL, IDRETRY, IDC_INSTALL = 1, 2, 4, 1003
VERSION_STATUSES = (204, 403, 500, 503)  # 404 comes from a missing file; 204 has no body
INSTALLER_STATUSES = (410, 500)
HTML_PAGE = b"<!DOCTYPE html><html><head><title>Sign in to the network</title></head><body></body></html>\n"
# A real 64-bit Windows program: one of Wine's own, from the machine's wine64.
X64_PROGRAM = pathlib.Path("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/hostname.exe")
# hostile_sender.exe's own worst case beyond the time it is given: each of its
# 3 x 23 boundary sends to a dialog that does not answer is given up after
# 1 s, one more send may overrun the time, and the probe waits 5 s. The
# margin covers Wine starting it on a loaded machine.
HOSTILE_SENDER_WORST_CASE_S = 3 * 23 * 1 + 1 + 5
HOSTILE_SENDER_MARGIN_S = 60


def test_locations(untrusted_https_url):
    """nginx directives for the trusted server's HTTPS block."""
    lines = []
    for status in VERSION_STATUSES:
        lines.append(f"location = /version-{status}/{VERSION_FILE} {{ return {status}; }}")
    for status in INSTALLER_STATUSES:
        lines.append(f"location = /installer-{status}/{INSTALLER} {{ return {status}; }}")
    lines += [
        # 500 while the flag file exists: a server under maintenance that comes back.
        "location ^~ /maintenance/ { if (-f $document_root/maintenance.flag) { return 500; } }",
        "location ^~ /loop/ { return 302 /loop/again/; }",
        f"location = /installer-untrusted/{INSTALLER} {{ return 302 {untrusted_https_url}/files/{INSTALLER}; }}",
        # The installer takes a few seconds; the version file beside it none.
        "location ^~ /slow/ { limit_rate 256k; }",
        # The version file trickles in over a few seconds; the installer comes at once.
        "location ^~ /slowversion/ { location ~ \\.ini$ { limit_rate 1k; gzip off; } }",
        # A CDN address behind a redirect, whose answers any cache may keep for an hour.
        "location ^~ /cached/ { rewrite ^/cached/(.*)$ /cdn/$1 redirect; }",
        'location ^~ /cdn/ { add_header Cache-Control "max-age=3600" always; }',
    ]
    return "\n".join("    " + line for line in lines)


class HeaderCutter:
    """Answers every request with the start of a status line and headers,
    then closes the connection; with version_text, the version file comes
    whole and only the installer is cut."""

    def __init__(self, version_text=None):
        self.version_text = version_text
        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        self.socket.listen(8)
        self.url = f"http://127.0.0.1:{self.socket.getsockname()[1]}"
        self.requests = 0
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                connection, _ = self.socket.accept()
            except OSError:
                return
            with connection:
                connection.settimeout(5)
                try:
                    request = connection.recv(65536).split(b"\r\n", 1)[0]
                    self.requests += 1
                    if self.version_text and VERSION_FILE.encode() in request:
                        body = self.version_text.encode("ascii")
                        connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                                           % len(body) + body)
                    else:
                        connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Le")
                except OSError:
                    pass

    def stop(self):
        self.socket.close()


class RealServerCase(harness.UpdaterCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.served = cls.work / "nginx-root"
        cls.untrusted_served = cls.work / "nginx-untrusted-root"
        cls.untrusted = NginxServer(cls.untrusted_served, cls.work / "nginx-untrusted").start()
        cls.addClassCleanup(cls.untrusted.stop)
        cls.nginx = NginxServer(cls.served, cls.work / "nginx",
                                https_extra=test_locations(cls.untrusted.https_url)).start()
        cls.addClassCleanup(cls.nginx.stop)
        trust_ca_in_prefix(cls.nginx.ca_certificate, cls.bin)
        cls.addClassCleanup(untrust_ca_in_prefix, cls.nginx.ca_certificate, cls.bin)

    def setUp(self):
        super().setUp()
        for root in (self.served, self.untrusted_served):
            harness.shutil.rmtree(root, ignore_errors=True)
            root.mkdir(parents=True)
        self.nginx.clear_requests()
        self.untrusted.clear_requests()

    # ---- helpers ----
    def serve(self, folder, latest=7, installer=True, root=None):
        """The version file announcing latest, and mark_file.exe as the
        installer, in folder of the served root."""
        target = (root or self.served) / folder
        target.mkdir(parents=True, exist_ok=True)
        if latest is not None:
            (target / VERSION_FILE).write_text(f"[ServerSoftVersion]\r\nLatestVersion={latest}\r\n", encoding="ascii")
        if installer:
            harness.shutil.copy(self.bin / "mark_file.exe", target / INSTALLER)
        return target

    def serve_trickling_version_file(self):
        """Version 7 over the installed 3 in folder slowversion, whose version
        file takes a few seconds to arrive; the product points there."""
        folder = self.serve("slowversion")
        # Some kilobytes of comment, a few seconds at the folder's rate.
        padding = "".join(f"; line {i:03d} {'-' * 60}\r\n" for i in range(60))
        (folder / VERSION_FILE).write_text(f"[ServerSoftVersion]\r\n{padding}LatestVersion=7\r\n", encoding="ascii")
        self.point_at(f"{self.nginx.https_url}/slowversion")
        return folder

    def wait_for_installer_download(self):
        """Until the installer is arriving: the bar stands between its ends
        (the small version file takes it from 0 to 100 at once) and the
        status is a download's."""
        state = {}
        end = time.time() + 60
        while time.time() < end:
            state = harness.parse(self.driver("state"))
            if 0 < int(state.get("progress", "0")) < 100 and state["status"] != ENGLISH.get("StatusCode1"):
                return state
            time.sleep(0.1)
        self.fail(f"the installer download was never seen under way: {state}")


class DeployedUpdates(RealServerCase):
    def test_update_over_https_and_through_the_http_redirect(self):
        for name, url in (("https", self.nginx.https_url), ("http redirected", self.nginx.http_url)):
            with self.subTest(name):
                self.setUp()
                self.serve("files")
                self.run_case(f"{url}/files", {STARTED})
                requests = self.nginx.requests()
                self.assertIn((f"/files/{INSTALLER}", 200), requests)
                if name == "http redirected":
                    self.assertIn((f"/files/{VERSION_FILE}", 301), requests)
                    self.assertIn((f"/files/{INSTALLER}", 301), requests)

    def test_untrusted_certificate_fails_before_anything_is_fetched(self):
        self.serve("files", root=self.untrusted_served)
        self.serve("installer-untrusted")
        self.serve("files")
        cases = {
            "version file": (self.untrusted, f"{self.untrusted.https_url}/files"),
            "installer redirected to it": (self.untrusted, f"{self.nginx.https_url}/installer-untrusted"),
            # The trusted CA's certificate, but for localhost only.
            "host name not in the certificate": (self.nginx, f"https://127.0.0.1:{self.nginx.https_port}/files"),
        }
        for name, (server, base) in cases.items():
            with self.subTest(name):
                self.nginx.clear_requests()
                self.untrusted.clear_requests()
                self.driver("kill-updaters")
                self.run_case(base, {FAILED})
                self.assertNotIn("/files/", " ".join(path for path, _ in server.requests()),
                                 "a request got through the untrusted TLS")

    def test_version_file_error_statuses_fail(self):
        # 404 from a file that is not there, the others from the server.
        bases = {404: "files"} | {status: f"version-{status}" for status in VERSION_STATUSES}
        for status, folder in bases.items():
            with self.subTest(status=status):
                self.setUp()
                self.serve(folder, latest=None)  # the installer is there; nothing may fetch it
                self.run_case(f"{self.nginx.https_url}/{folder}", {FAILED})
                self.assertIn((f"/{folder}/{VERSION_FILE}", status), self.nginx.requests())
                self.assertNotIn(f"/{folder}/{INSTALLER}", [path for path, _ in self.nginx.requests()])

    def test_installer_error_statuses_fail(self):
        bases = {404: "files"} | {status: f"installer-{status}" for status in INSTALLER_STATUSES}
        for status, folder in bases.items():
            with self.subTest(status=status):
                self.setUp()
                self.serve(folder, installer=False)
                self.run_case(f"{self.nginx.https_url}/{folder}", {FAILED})
                self.assertIn((f"/{folder}/{INSTALLER}", status), self.nginx.requests())

    def test_version_file_is_never_answered_from_a_cache(self):
        # Over plain HTTP, redirected to HTTPS and on to a CDN address whose
        # answer may be kept for an hour: the second run must see the release
        # published after the first, from the server, not from WinINet's cache.
        # Windows' WinINet answers such a redirect target from its cache
        # unless the binding asks for the newest copy. Wine 8's urlmon asks
        # the server every time whatever the flags say (and writes its cache
        # all the same), so under Wine this shows only that the flags leave
        # redirected downloads whole; the flags themselves are held by the
        # callback's engine test.
        self.serve("cdn", latest=3)  # the installed version: up to date
        base = f"{self.nginx.http_url}/cached"
        self.run_case(base, {UP_TO_DATE})
        self.assertIn((f"/cdn/{VERSION_FILE}", 200), self.nginx.requests())
        self.serve("cdn", latest=9)
        self.nginx.clear_requests()
        self.run_case(base, {STARTED})
        self.assertIn((f"/cdn/{VERSION_FILE}", 200), self.nginx.requests())
        self.assertIn((f"/cdn/{INSTALLER}", 200), self.nginx.requests())

    def test_retry_works_once_the_version_file_is_back(self):
        cases = {
            "404, then published": ("files", lambda: self.serve("files")),
            "500, then maintenance over": ("maintenance", lambda: (self.served / "maintenance.flag").unlink()),
        }
        for name, (folder, repair) in cases.items():
            with self.subTest(name):
                self.setUp()
                if folder == "files":
                    self.serve(folder, latest=None, installer=False)
                else:
                    self.serve(folder)
                    (self.served / "maintenance.flag").touch()
                self.point_at(f"{self.nginx.https_url}/{folder}")
                self.start_updater()
                box = self.message_box()
                self.assertEqual(box["text"], ENGLISH["DownloadFail"])
                self.assertEqual(box["buttons"], MB_RETRYCANCEL_BUTTONS)
                repair()
                self.assertEqual(self.driver(f"press {IDRETRY}"), "ok")
                self.assertTrue(self.wait_for_mark(), "the installer was not started after Retry")
                self.expect_exit_zero()
                self.assertEqual([entry for entry in self.nginx.requests() if entry[0].endswith(VERSION_FILE)][-1],
                                 (f"/{folder}/{VERSION_FILE}", 200))


class BadAnswers(RealServerCase):
    def test_what_is_not_a_whole_x86_program_is_never_started(self):
        # Signed, then cut inside its certificate table: every section is
        # whole, and nginx serves the cut file with its right length. The
        # updater is unsigned and the version file names no hash, so no
        # other check would refuse it.
        pki = test_pki.TestPki((self.work / "pki").resolve()).make()
        signed = pki.sign("vendor", self.bin / "mark_file.exe", self.work / "signed-mark_file.exe")
        cases = {"empty file": b"", "HTML page sent with 200": HTML_PAGE, "MZ and no more": b"MZ" + b"\0" * 100,
                 "signature's certificate table cut": signed.read_bytes()[:-200],
                 "x64 program": X64_PROGRAM.read_bytes()}
        for name, body in cases.items():
            with self.subTest(name):
                self.setUp()
                (self.serve("files", installer=False) / INSTALLER).write_bytes(body)
                self.run_case(f"{self.nginx.https_url}/files", {REFUSED})
                self.assertIn((f"/files/{INSTALLER}", 200), self.nginx.requests())

    def test_empty_version_file_reads_as_no_version(self):
        # Version 0: up to date, or on 64-bit Windows the same address again
        # as the fallback, which ends up to date too.
        (self.serve("files") / VERSION_FILE).write_bytes(b"")
        self.run_case(f"{self.nginx.https_url}/files", {UP_TO_DATE})
        self.assertNotIn(f"/files/{INSTALLER}", [path for path, _ in self.nginx.requests()])

    def test_redirect_loop_ends_without_starting_anything(self):
        self.serve("files")
        # Wine's WinINet follows a loop for ever; the updater gives up.
        self.run_case(f"{self.nginx.https_url}/loop", {FAILED})
        self.assertGreater(len(self.nginx.requests()), 10)

    def test_server_that_closes_mid_headers(self):
        # Under Wine a cut answer may read as an empty file: a version file
        # then holds no version (up to date), and an installer is no program
        # (refused). A cut installer must never be started.
        cases = {"version file": (None, {FAILED, UP_TO_DATE, STILL_RUNNING}),
                 "installer": ("[ServerSoftVersion]\r\nLatestVersion=7\r\n", {FAILED, REFUSED, STILL_RUNNING})}
        for name, (version_text, allowed) in cases.items():
            with self.subTest(name):
                self.setUp()
                cutter = HeaderCutter(version_text)
                try:
                    self.run_case(f"{cutter.url}/files", allowed)
                    self.assertGreater(cutter.requests, 1 if version_text else 0)
                finally:
                    cutter.stop()


class TrustFailsClosed(RealServerCase):
    def test_updater_whose_own_file_cannot_be_read_starts_nothing(self):
        # Without its own file the updater cannot tell whether it is signed,
        # so its rules stay on: the announcement must be signed by a
        # publisher it cannot name, and nothing is fetched or started. It
        # reads its own signature when an update is announced, so the file is
        # held while the version file is still arriving. Wine's WinVerifyTrust
        # answers a held file with the sharing violation itself rather than
        # with TRUST_E_NOSIGNATURE, so under Wine this shows the outcome; the
        # unit table of SignatureStateFromTrustResult holds the mapping that
        # Windows needs.
        updater_dir = self.work / "held-updater"
        updater_dir.mkdir(exist_ok=True)
        updater = updater_dir / "Quillon.exe"
        harness.shutil.copy(self.bin / "Quillon.exe", updater)
        harness.shutil.copy(self.bin / "R7Glossa_WRZ.dll", updater_dir)
        self.serve_trickling_version_file()
        self.start_updater(updater)
        self.assertEqual(self.driver("dialog 30000", timeout=40), "ok")
        reply = self.driver(f"hold-file {windows_path(updater)}")
        if reply != "ok":
            self.skipTest(f"this Wine does not let a running program's file be held without sharing: {reply}")
        try:
            result, code = self.outcome(patience=60)
        finally:
            self.assertEqual(self.driver("release-file"), "ok")
        self.assertEqual((result, code), (REFUSED, 0))
        self.assertEqual(self.installer_marks(), [])
        self.assertEqual(self.nginx.requests(), [(f"/slowversion/{VERSION_FILE}", 200)],
                         "the version file had arrived before the hold, or an installer was fetched")


class HostileMessages(RealServerCase):
    """Another program on the desktop posts, sends and broadcasts the
    dialog's own message numbers and the Install command at it, with random
    and boundary values (hostile_sender.exe), while the version file arrives,
    while the installer arrives, and while a result box is up. The dialog
    must answer a probe within 5 s, never crash, reach the verdict that the
    server's files call for, and start an installer only once it has
    arrived whole and passed its checks."""

    def hostile(self, milliseconds):
        seed = random.randrange(1, 2 ** 32)
        timeout = milliseconds / 1000 + HOSTILE_SENDER_WORST_CASE_S + HOSTILE_SENDER_MARGIN_S
        # Output through a file: a Wine service started meanwhile would hold a pipe open.
        with tempfile.TemporaryFile("w+", encoding="utf-8") as output:
            try:
                subprocess.run(["wine", str(self.bin / "hostile_sender.exe"), str(milliseconds), str(seed)],
                               stdout=output, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=timeout)
            except subprocess.TimeoutExpired:
                print(f"\n  hostile_sender.exe seed {seed}: no answer within {timeout:.0f} s", file=sys.stderr)
                self.fail(f"hostile_sender.exe did not end within {timeout:.0f} s (replay: seed {seed})")
            output.seek(0)
            line = output.read().strip()
        print(f"\n  {line}", file=sys.stderr)
        answer = harness.parse(line)
        self.assertEqual(answer.get("probe"), "ok", f"no answer to the probe within 5 s (replay: seed {seed})")
        self.assertIsNone(self.updater.poll(), f"Quillon ended under the messages (replay: seed {seed})")
        # Every boundary value, posted and sent, reached the dialog at least.
        self.assertGreaterEqual(int(answer["posted"]) + int(answer["sent"]), 138, "the dialog was hardly hit")
        return seed

    def expect_whole_installer_started(self, served):
        self.assertTrue(self.wait_for_mark(timeout=60), "the installer was not started")
        self.expect_exit_zero(timeout=40)
        started = [f for d in self.download_dirs() for f in d.glob(INSTALLER)]
        self.assertEqual(len(started), 1)
        self.assertEqual(started[0].read_bytes(), served.read_bytes(), "the started installer is not the whole file")
        self.assertEqual(len(self.installer_marks()), 1)

    def test_while_the_version_file_arrives(self):
        folder = self.serve_trickling_version_file()
        self.start_updater()
        self.assertEqual(self.driver("dialog 30000", timeout=40), "ok")
        self.hostile(2000)
        self.assertNotIn(f"/slowversion/{VERSION_FILE}", [path for path, _ in self.nginx.requests()],
                         "the version file had arrived before the messages ended")
        self.expect_whole_installer_started(folder / INSTALLER)
        self.assertEqual(self.nginx.requests(), [(f"/slowversion/{VERSION_FILE}", 200),
                                                 (f"/slowversion/{INSTALLER}", 200)])

    def test_while_the_installer_arrives(self):
        folder = self.serve("slow")
        self.point_at(f"{self.nginx.https_url}/slow")
        self.start_updater()
        self.assertEqual(self.driver("dialog 30000", timeout=40), "ok")
        self.wait_for_installer_download()
        self.hostile(1500)
        self.assertNotIn(f"/slow/{INSTALLER}", [path for path, _ in self.nginx.requests()],
                         "the installer had arrived before the messages ended")
        self.assertEqual(self.installer_marks(), [], "an installer started before it had arrived")
        self.expect_whole_installer_started(folder / INSTALLER)
        self.assertEqual(self.nginx.requests(), [(f"/slow/{VERSION_FILE}", 200), (f"/slow/{INSTALLER}", 200)])

    def test_while_a_result_box_is_up(self):
        # The up-to-date box, and the failure box of a missing version file.
        cases = {"up to date": (3, ENGLISH["SoftLatest"], IDOK),
                 "download failed": (None, ENGLISH["DownloadFail"], IDCANCEL)}
        for name, (latest, text, button) in cases.items():
            with self.subTest(name):
                self.setUp()
                self.serve("files", latest=latest)
                self.point_at(f"{self.nginx.https_url}/files")
                self.start_updater()
                self.assertEqual(self.message_box()["text"], text)
                self.hostile(1500)
                self.assertEqual(self.message_box(timeout_ms=2000)["text"], text, "the box changed")
                self.assertEqual(self.driver(f"press {button}"), "ok")
                # A second box, or a download started behind the first, would
                # keep the updater from ending here.
                self.expect_exit_zero(timeout=30)
                self.assertNotIn(f"/files/{INSTALLER}", [path for path, _ in self.nginx.requests()])
                self.assertEqual(self.installer_marks(), [])
                self.assertEqual(self.download_dirs(), [], "a downloaded file stayed behind")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + harness.parse_arguments(), verbosity=2)
