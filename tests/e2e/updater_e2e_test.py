#!/usr/bin/env python3
"""The real Quillon.exe under Wine, against the stand-in update server, with
the stand-in language library beside it. A driver program (window_driver.exe)
reads and clicks the windows from outside; screenshots of what a user sees
are kept in the work directory."""
import argparse
import http.server
import os
import pathlib
import queue
import shutil
import socket
import subprocess
import sys
import threading
import time
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "standins" / "update_server"))
import update_server  # noqa: E402
import window_screenshot  # noqa: E402

ARGS = None
VERSION_FILE = "WRZ_QVLVer.ini"
INSTALLER = "WRZ_QVL_Keyward_Install.exe"
MB_OK_BUTTONS, MB_RETRYCANCEL_BUTTONS = "1", "2,4"
# How a run settles (UpdaterCase.outcome). REFUSED: what arrived was refused
# by its checks (the installer, or a signed updater's announcement), told
# apart from FAILED, a file that did not arrive.
FAILED, REFUSED, UP_TO_DATE = "download failed", "update refused", "up to date"
OTHER_BOX = "another box"  # the shell's error box, say, when it cannot run what arrived
STARTED, STILL_RUNNING = "installer started", "no end by itself"


def texts(language):
    table = {}
    path = ROOT / "standins" / "language_library" / "texts" / f"{language}.txt"
    for line in path.read_text(encoding="utf-8").splitlines():
        if line and not line.startswith("#") and "=" in line:
            key, text = line.split("=", 1)
            table[key] = text
    return table


ENGLISH = texts(1033)


class ServerOnPort(update_server.UpdateServer):
    """The stand-in server on a chosen port, so that a test can take the
    server down and bring it back at the same address, between a failed
    download and the user's Retry."""

    def __init__(self, root, port):
        http.server.HTTPServer.__init__(self, ("127.0.0.1", port), update_server.Handler)
        self.root = str(root)
        self.requests = []
        self.file_faults = {}
        self.released = threading.Event()
        self._thread = None


def unused_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def parse(reply):
    return dict(field.split("=", 1) for field in reply.split("\t") if "=" in field)


class Driver:
    """One window_driver.exe for the whole run: a command a line, an answer a line."""

    def __init__(self, exe):
        self.process = subprocess.Popen(["wine", str(exe)], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True, encoding="utf-8")
        self.replies = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.replies.put(line.rstrip("\n"))

    def __call__(self, command, timeout=30):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        try:
            return self.replies.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError(f"driver gave no answer to {command!r} within {timeout} s")

    def close(self):
        try:
            self.process.stdin.write("quit\n")
            self.process.stdin.flush()
            self.process.wait(timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            self.process.kill()
            self.process.wait(timeout=10)
        # The reader ends at the end of the output; then the pipes can go.
        self.reader.join(timeout=10)
        for pipe in (self.process.stdin, self.process.stdout):
            try:
                pipe.close()
            except OSError:
                pass


class UpdaterCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bin = pathlib.Path(ARGS.bin_dir)
        cls.work = pathlib.Path(ARGS.work_dir)
        # Screenshots of every case class stay; the served folders are new.
        cls.root32 = cls.work / "server32"
        cls.root64 = cls.work / "server64"
        for root in (cls.root32, cls.root64):
            shutil.rmtree(root, ignore_errors=True)
            root.mkdir(parents=True)
        # Each step is undone by a class clean-up registered right after it,
        # which also runs when a later step of a subclass's set-up fails.
        cls.server32 = update_server.start_server(cls.root32)
        cls.addClassCleanup(cls.server32.stop)
        cls.server64 = update_server.start_server(cls.root64)
        cls.addClassCleanup(cls.server64.stop)
        cls.driver = Driver(cls.bin / "window_driver.exe")
        cls.addClassCleanup(cls.driver.close)
        cls.addClassCleanup(cls.driver, "product-clear")
        cls.wow64 = os.environ.get("QUILLON_TEST_WINEARCH", "win64") == "win64"
        prefix = pathlib.Path(os.environ["WINEPREFIX"])
        cls.temp_dirs = prefix / "drive_c" / "users"

    def setUp(self):
        self.assertTrue(self.driver("kill-updaters").startswith("ok"))
        self.assertEqual(self.driver("product-clear"), "ok")
        for d in self.download_dirs():
            shutil.rmtree(d, ignore_errors=True)
        for root in (self.root32, self.root64):
            for f in root.iterdir():
                f.unlink()
        for server in (self.server32, self.server64):
            server.requests.clear()
            server.file_faults.clear()
        self.updater = None

    def tearDown(self):
        self.driver("kill-updaters")
        if self.updater and self.updater.poll() is None:
            self.updater.kill()

    def download_dirs(self):
        # The user's temporary directory: Temp in Wine's profile layout,
        # AppData\Local\Temp in Windows'.
        return [d for pattern in ("*/Temp/qvl*.tmp", "*/AppData/Local/Temp/qvl*.tmp")
                for d in self.temp_dirs.glob(pattern)]

    # ---- helpers ----
    def install_product(self, version=None, url32=None, url64=None, **extra):
        if version is not None:
            self.assertEqual(self.driver(f"product-dword DisplayVersion {version}"), "ok")
        if url32 is not None:
            self.assertEqual(self.driver(f"product-sz SoftServerUrl {url32}"), "ok")
        if url64 is not None:
            self.assertEqual(self.driver(f"product-sz SoftServerUrl_X64 {url64}"), "ok")
        for name, value in extra.items():
            self.assertEqual(self.driver(f"product-dword {name} {value}"), "ok")

    def publish(self, root, latest=None, version_text=None, installer=True):
        if version_text is None and latest is not None:
            version_text = f"[ServerSoftVersion]\r\nLatestVersion={latest}\r\n"
        if version_text is not None:
            (root / VERSION_FILE).write_text(version_text, encoding="ascii")
        if installer:
            shutil.copy(self.bin / "mark_file.exe", root / INSTALLER)

    def start_updater(self, exe=None):
        self.updater = subprocess.Popen(["wine", str(exe or self.bin / "Quillon.exe")], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return self.updater

    def expect_exit_zero(self, timeout=30):
        try:
            self.assertEqual(self.updater.wait(timeout=timeout), 0)
        except subprocess.TimeoutExpired:
            self.fail(f"Quillon did not exit within {timeout} s")

    def message_box(self, timeout_ms=60000):
        reply = self.driver(f"msgbox {timeout_ms}", timeout=timeout_ms / 1000 + 10)
        self.assertNotEqual(reply, "timeout", "no message box appeared")
        return parse(reply)

    def installer_marks(self):
        return [m for d in self.download_dirs() for m in d.glob(f"{INSTALLER}.mark")]

    def wait_for_mark(self, timeout=30):
        end = time.time() + timeout
        while time.time() < end:
            if self.installer_marks():
                return True
            time.sleep(0.2)
        return False

    def screenshot(self, name):
        # The work folder is already the prefix's own.
        shot = window_screenshot.take(self.driver, self.work / "screenshots" / f"{name}.png")
        self.assertIsNotNone(shot, f"no window shown for the screenshot {name}.png")

    def point_at(self, base):
        """Version 3 installed, both server addresses at base."""
        self.install_product(version=3, url32=base, url64=base)

    def outcome(self, patience=20):
        """How the run settles: a box (Cancel on a Retry/Cancel box, else OK),
        the installer started, or no end by itself within patience seconds
        (then cancelled as a user would). Gives the outcome and the exit
        code; the process must exit within 40 s of the last answer."""
        end = time.time() + patience
        while time.time() < end:
            reply = self.driver("msgbox 500", timeout=15)
            if reply != "timeout":
                box = parse(reply)
                result = {ENGLISH["DownloadFail"]: FAILED, ENGLISH["VerifyFail"]: REFUSED,
                          ENGLISH["SoftLatest"]: UP_TO_DATE}.get(box["text"], OTHER_BOX)
                self.driver("press 2" if result in (FAILED, REFUSED) else "press 1")  # Cancel, or OK
                return result, self.updater.wait(timeout=40)
            if self.updater.poll() is not None:
                return (STARTED if self.wait_for_mark(timeout=5) else "ended with nothing shown"), self.updater.returncode
        self.assertEqual(self.driver("press 2"), "ok")  # Cancel
        pressed = time.time()
        code = self.updater.wait(timeout=40)
        print(f"\n  exit {time.time() - pressed:.1f} s after Cancel", file=sys.stderr)
        return STILL_RUNNING, code

    def run_case(self, base, allowed, patience=20, updater=None):
        """Points the product at base, runs the updater (the built one unless
        given) and checks how the run settles: one of allowed, exit code 0,
        and nothing started or left behind unless it started an installer."""
        self.point_at(base)
        started = time.time()
        self.start_updater(updater)
        result, code = self.outcome(patience)
        print(f"\n  {base}: {result} in {time.time() - started:.1f} s", file=sys.stderr)
        self.assertIn(result, allowed)
        self.assertEqual(code, 0)
        if result != STARTED:
            self.assertEqual(self.installer_marks(), [], "something was started")
            self.assertEqual(self.download_dirs(), [], "a downloaded file stayed behind")
        return result

    def server_for_this_windows(self):
        return (self.server64, self.root64) if self.wow64 else (self.server32, self.root32)


class UpdateRoads(UpdaterCase):
    def test_newer_version_is_downloaded_and_started(self):
        server, root = self.server_for_this_windows()
        self.install_product(version=3, url32=f"{self.server32.url}/files", url64=f"{self.server64.url}/files")
        self.publish(root, latest=7)
        self.start_updater()
        self.assertTrue(self.wait_for_mark(), "the installer was not started")
        self.expect_exit_zero()
        self.assertEqual(server.requests, [f"/files/{VERSION_FILE}", f"/files/{INSTALLER}"])

    def test_equal_older_or_unusable_version_says_up_to_date(self):
        cases = {"equal": "[ServerSoftVersion]\r\nLatestVersion=7\r\n",
                 "older": "[ServerSoftVersion]\r\nLatestVersion=6\r\n",
                 "all bits set installed": None,
                 "html page": update_server.ERROR_PAGE.decode()}
        for name, text in cases.items():
            with self.subTest(name):
                self.setUp()
                installed = 4294967295 if text is None else 7
                # Both addresses serve the same file, so the 64-bit fallback
                # reaches the same verdict.
                self.install_product(version=installed, url32=f"{self.server32.url}/files",
                                     url64=f"{self.server32.url}/files")
                self.publish(self.root32, version_text=text or "[ServerSoftVersion]\r\nLatestVersion=4294967295\r\n")
                self.start_updater()
                box = self.message_box()
                self.assertEqual(box["caption"], ENGLISH["Quillon"])
                self.assertEqual(box["text"], ENGLISH["SoftLatest"])
                self.assertEqual(box["buttons"], MB_OK_BUTTONS)
                if name == "equal":
                    self.screenshot("up-to-date")
                self.assertEqual(self.driver("press 1"), "ok")
                self.expect_exit_zero()
                self.assertEqual(self.installer_marks(), [])
                self.assertNotIn(f"/files/{INSTALLER}", self.server32.requests)

    def test_sixty_four_bit_address_and_one_fallback(self):
        if not self.wow64:
            self.skipTest("64-bit Windows only")
        self.install_product(version=3, url32=f"{self.server32.url}/files", url64=f"{self.server64.url}/files")
        # The 64-bit address has no usable version; the 32-bit one has a newer
        # version, and the installer comes from there.
        self.publish(self.root64, version_text=update_server.ERROR_PAGE.decode(), installer=False)
        self.publish(self.root32, latest=9)
        self.start_updater()
        self.assertTrue(self.wait_for_mark(), "the installer was not started")
        self.expect_exit_zero()
        self.assertEqual(self.server64.requests, [f"/files/{VERSION_FILE}"])
        self.assertEqual(self.server32.requests, [f"/files/{VERSION_FILE}", f"/files/{INSTALLER}"])

    def test_unusable_version_at_both_addresses_ends_up_to_date(self):
        if not self.wow64:
            self.skipTest("64-bit Windows only")
        self.install_product(version=3, url32=f"{self.server32.url}/files", url64=f"{self.server64.url}/files")
        self.publish(self.root64, version_text="[Other]\r\n", installer=False)
        self.publish(self.root32, version_text="[Other]\r\n", installer=False)
        self.start_updater()
        box = self.message_box()
        self.assertEqual(box["text"], ENGLISH["SoftLatest"])
        self.driver("press 1")
        self.expect_exit_zero()
        self.assertEqual(self.server64.requests, [f"/files/{VERSION_FILE}"])
        self.assertEqual(self.server32.requests, [f"/files/{VERSION_FILE}"])


class FailedDownloads(UpdaterCase):
    def test_retry_fetches_the_same_file_again(self):
        _, root = self.server_for_this_windows()
        port = unused_port()
        base = f"http://127.0.0.1:{port}/files"
        self.install_product(version=3, url32=base, url64=base)
        self.publish(root, latest=7)
        self.start_updater()  # nothing listens there yet
        box = self.message_box()
        self.assertEqual(box["text"], ENGLISH["DownloadFail"])
        self.assertEqual(box["buttons"], MB_RETRYCANCEL_BUTTONS)
        self.screenshot("download-failed")
        server = ServerOnPort(root, port).start()  # the server is back
        try:
            self.assertEqual(self.driver("press 4"), "ok")  # Retry
            self.assertTrue(self.wait_for_mark(), "the installer was not started after Retry")
            self.expect_exit_zero()
            self.assertEqual(server.requests, [f"/files/{VERSION_FILE}", f"/files/{INSTALLER}"])
        finally:
            server.stop()

    def test_cancel_on_the_failure_box_ends(self):
        # A server that cannot be reached fails the download everywhere.
        base = f"http://127.0.0.1:{unused_port()}/files"
        self.install_product(version=3, url32=base, url64=base)
        self.start_updater()
        box = self.message_box()
        self.assertEqual(box["text"], ENGLISH["DownloadFail"])
        self.assertEqual(self.driver("press 2"), "ok")  # Cancel
        self.expect_exit_zero()
        self.assertEqual(self.installer_marks(), [])

    def test_cancel_during_a_large_download(self):
        server, _ = self.server_for_this_windows()
        # 64 bytes every 20 ms: a download that lasts about 20 seconds.
        base = f"{server.url}/fault/trickle/20/64000"
        self.install_product(version=3, url32=base, url64=base)
        self.start_updater()
        self.assertEqual(self.driver("dialog 30000", timeout=40), "ok")
        # Wait until the bar has moved, then look at the dialog mid-download.
        state = {}
        end = time.time() + 60
        while time.time() < end:
            state = parse(self.driver("state"))
            if 0 < int(state.get("progress", "0")) < 100:
                break
            time.sleep(0.3)
        self.assertTrue(0 < int(state.get("progress", "0")) < 100, f"the bar never stood mid-way: {state}")
        self.assertEqual(state["install_visible"], "0")
        self.assertEqual(state["caption"], ENGLISH["Quillon"])
        self.screenshot("downloading")
        started = time.time()
        self.assertEqual(self.driver("press 2"), "ok")
        self.assertEqual(self.driver("gone 10000", timeout=20), "ok")
        self.expect_exit_zero(timeout=30)
        print(f"\ncancel to exit: {time.time() - started:.2f} s", file=sys.stderr)


class RefusedInstaller(UpdaterCase):
    def test_refused_installer_says_so_in_the_librarys_language(self):
        # An HTML page served as the installer arrives whole and is no Windows
        # program: refused, nothing started. A library made before the
        # refusal had a text of its own (no VerifyFail in any language) gets
        # DownloadFail in the user's language, as before: no box mixes
        # languages. Retry fetches the installer again; by then the server
        # has the real one.
        variant = self.work / "library-without-verify-fail"
        variant.mkdir(exist_ok=True)
        shutil.copy(self.bin / "Quillon.exe", variant / "Quillon.exe")
        shutil.copy(self.bin / "without-verify-fail" / "R7Glossa_WRZ.dll", variant / "R7Glossa_WRZ.dll")
        cases = {
            "stand-in library, English": (self.bin, 1033, "VerifyFail"),
            "stand-in library, German": (self.bin, 1031, "VerifyFail"),
            "library without VerifyFail, German": (variant, 1031, "DownloadFail"),
        }
        for name, (folder, language, key) in cases.items():
            with self.subTest(name):
                self.setUp()
                server, root = self.server_for_this_windows()
                self.install_product(version=3, url32=f"{server.url}/files", url64=f"{server.url}/files")
                self.assertEqual(self.driver(f"user-langid {language}"), "ok")
                self.publish(root, latest=7)
                server.file_faults[INSTALLER] = "html"
                self.start_updater(folder / "Quillon.exe")
                box = self.message_box()
                expected = texts(language)
                self.assertEqual((box["caption"], box["text"], box["buttons"]),
                                 (expected["Quillon"], expected[key], MB_RETRYCANCEL_BUTTONS))
                self.assertEqual(self.installer_marks(), [], "a refused installer was started")
                if language == 1033:
                    self.screenshot("installer-refused")
                del server.file_faults[INSTALLER]
                self.assertEqual(self.driver("press 4"), "ok")  # Retry
                self.assertTrue(self.wait_for_mark(), "the installer was not started after Retry")
                self.expect_exit_zero()
                self.assertEqual(server.requests, [f"/files/{VERSION_FILE}", f"/files/{INSTALLER}",
                                                   f"/files/{INSTALLER}"])


class StartUp(UpdaterCase):
    def test_second_start_in_the_session_leaves_at_once(self):
        server, root = self.server_for_this_windows()
        self.install_product(version=7, url32=f"{server.url}/files", url64=f"{server.url}/files")
        self.publish(root, latest=7)
        first = self.start_updater()
        self.message_box()  # the first one is waiting on its up-to-date box
        second = subprocess.Popen(["wine", str(self.bin / "Quillon.exe")], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertEqual(second.wait(timeout=30), 0)
        self.assertIsNone(first.poll(), "the first instance must go on")
        self.assertEqual(server.requests, [f"/files/{VERSION_FILE}"])
        self.driver("press 1")
        self.expect_exit_zero()

    def test_an_abandoned_guard_does_not_stop_the_next_start(self):
        # The instance that held the guard ended without releasing it: the
        # next start owns the guard now and runs.
        server, root = self.server_for_this_windows()
        self.install_product(version=7, url32=f"{server.url}/files", url64=f"{server.url}/files")
        self.publish(root, latest=7)
        self.assertEqual(self.driver("abandon-mutex"), "ok")
        try:
            self.start_updater()
            box = self.message_box()
            self.assertEqual(box["text"], ENGLISH["SoftLatest"])
            self.driver("press 1")
            self.expect_exit_zero()
        finally:
            self.driver("release-mutex")

    def test_texts_in_the_users_language(self):
        server, root = self.server_for_this_windows()
        german = texts(1031)
        self.install_product(version=7, url32=f"{server.url}/files", url64=f"{server.url}/files")
        self.assertEqual(self.driver("user-langid 1031"), "ok")
        self.publish(root, latest=7)
        self.start_updater()
        box = self.message_box()
        self.assertEqual(box["caption"], german["Quillon"])
        self.assertEqual(box["text"], german["SoftLatest"])
        self.screenshot("up-to-date-german")
        self.driver("press 1")
        self.expect_exit_zero()

    def test_missing_product_key_or_language_library(self):
        # No key at all: no server address, so the download fails at once
        # instead of leaving the user waiting with no word.
        self.start_updater()
        box = self.message_box()
        self.assertEqual(box["text"], ENGLISH["DownloadFail"])
        self.driver("press 2")
        self.expect_exit_zero()

        # A copy of the program with no language library beside it: every
        # text is empty, nothing crashes.
        alone = self.work / "without-language-library"
        alone.mkdir(exist_ok=True)
        shutil.copy(self.bin / "Quillon.exe", alone / "Quillon.exe")
        self.updater = subprocess.Popen(["wine", str(alone / "Quillon.exe")], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        box = self.message_box()
        self.assertEqual((box["caption"], box["text"]), ("", ""))
        self.driver("press 2")
        self.expect_exit_zero()

    def test_display_version_of_the_wrong_type_counts_as_nothing_installed(self):
        server, root = self.server_for_this_windows()
        self.install_product(url32=f"{server.url}/files", url64=f"{server.url}/files")
        self.assertEqual(self.driver("product-sz DisplayVersion 99"), "ok")
        self.publish(root, latest=1)
        self.start_updater()
        self.assertTrue(self.wait_for_mark(), "the installer was not started")
        self.expect_exit_zero()

    def test_server_address_at_the_length_limit(self):
        server, root = self.server_for_this_windows()
        self.publish(root, latest=7)
        for length, readable in ((259, True), (260, False)):
            with self.subTest(length=length):
                self.setUp()
                self.publish(root, latest=7)
                base = f"{server.url}/files/"
                base += "x" * (length - len(base) - 1) + "/"  # the server serves the last path part
                self.assertEqual(len(base), length)
                self.install_product(version=7, url32=base, url64=base)
                self.start_updater()
                box = self.message_box()
                self.assertEqual(box["text"], ENGLISH["SoftLatest" if readable else "DownloadFail"])
                self.driver("press 1" if readable else "press 2")
                self.expect_exit_zero()


def parse_arguments():
    """Reads --bin-dir and --work-dir into ARGS for this module's cases and
    gives back the rest, for unittest. The work folder is one of this
    prefix's own: the two prefixes run at the same time."""
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin-dir", required=True)
    parser.add_argument("--work-dir", required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.work_dir = str(pathlib.Path(ARGS.work_dir) / os.environ.get("QUILLON_TEST_WINEARCH", "win64"))
    return rest


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + parse_arguments(), verbosity=2)
