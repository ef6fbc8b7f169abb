#!/usr/bin/env python3
"""The updater's installer checks against real Authenticode signatures, under
Wine. A throw-away CA (standins/code_signing/test_pki.py) signs the updater
and the installers; its root is trusted inside this test's Wine prefix only,
for the time of the test. The version files are written by the operators'
publishing script (tools/publish_update.py).

What Wine 8's WinVerifyTrust does not judge as Windows does is said where it
matters; those decisions are covered by unit tests of the decision logic."""
import hashlib
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "tests" / "nsis"))
sys.path.insert(0, str(ROOT / "standins" / "code_signing"))
sys.path.insert(0, str(ROOT / "tools"))
import publish_update  # noqa: E402
import test_pki  # noqa: E402
import updater_e2e_test as harness  # noqa: E402
from nsis_harness import windows_path  # noqa: E402
from updater_e2e_test import ENGLISH, INSTALLER, MB_RETRYCANCEL_BUTTONS, VERSION_FILE  # noqa: E402

ARGS = None
IDCANCEL, IDRETRY = 2, 4


class SignedFiles:
    """The PKI, the signed updater beside its language library, and one
    installer (the mark_file.exe test program, which leaves a mark when it
    runs) of each kind."""

    def __init__(self, bin_dir, work):
        self.pki = test_pki.TestPki(work / "pki").make()
        self.dir = work / "signed"
        shutil.rmtree(self.dir, ignore_errors=True)
        self.dir.mkdir(parents=True)
        updater_dir = self.dir / "updater"
        updater_dir.mkdir()
        self.updater = self.pki.sign("vendor", bin_dir / "Quillon.exe", updater_dir / "Quillon.exe")
        shutil.copy(bin_dir / "R7Glossa_WRZ.dll", updater_dir)

        program = bin_dir / "mark_file.exe"
        self.installers = {"unsigned": self.dir / "unsigned.exe"}
        shutil.copy(program, self.installers["unsigned"])
        for signer in ("vendor", "vendor-renewed", "vendor-expired", "other"):
            self.installers[signer] = self.pki.sign(signer, program, self.dir / f"{signer}.exe")
        # Signed, then one byte of the program's code changed.
        tampered = bytearray(self.installers["vendor"].read_bytes())
        tampered[0x600] ^= 0xFF
        self.installers["tampered"] = self.dir / "tampered.exe"
        self.installers["tampered"].write_bytes(bytes(tampered))


def run_wine_program(*command, timeout=120):
    """The program's standard output. Taken through a file, not a pipe: a Wine
    service that the platform's crypto starts on first use inherits the output
    handles and would keep a pipe open long after the program has ended."""
    with tempfile.TemporaryFile("w+", encoding="utf-8") as output:
        subprocess.run(["wine", *map(str, command)], stdout=output, stderr=subprocess.DEVNULL, timeout=timeout)
        output.seek(0)
        return output.read()


def trust_root(bin_dir, pki, action):
    answer = run_wine_program(bin_dir / "trust_root.exe", action, windows_path(pki.ca_der), timeout=60)
    if answer.strip() != "ok":
        raise AssertionError(f"trust_root {action}: {answer}")


def probe(bin_dir, *files):
    """What the updater's own readers make of each file: state, result, O, CN, sha256."""
    lines = run_wine_program(bin_dir / "signature_probe.exe", *map(windows_path, files)).splitlines()
    return [dict(field.split("=", 1) for field in line.split("\t")) for line in lines]


def wine_checks_certificate_dates(bin_dir, files):
    return probe(bin_dir, files.installers["vendor-expired"])[0]["state"] != "valid"


class AuthenticityCase(harness.UpdaterCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.files = SignedFiles(cls.bin, cls.work)
        trust_root(cls.bin, cls.files.pki, "add")
        cls.addClassCleanup(trust_root, cls.bin, cls.files.pki, "remove")

    def serve(self, installer, version=7, version_text=None, announced=None):
        """Publishes installer as version on this Windows' server, with its
        hash, unless version_text replaces the version file. announced: the
        vendor's signed announcement of that installer's hash instead, as a
        signed updater requires; the vendor's key signs whatever file it is
        given here, so that the installer's own checks are what decide."""
        if version_text == "no hash":
            version_text = f"[ServerSoftVersion]\r\nLatestVersion={version}\r\n"
        server, root = self.server_for_this_windows()
        publish_update.publish(self.files.installers[installer], version, root)
        if announced is not None:
            sha256 = hashlib.sha256(self.files.installers[announced].read_bytes()).hexdigest()
            signature = self.files.pki.sign_detached("vendor", publish_update.announcement_text(version, sha256))
            version_text = publish_update.version_file_text(version, sha256, signature)
        if version_text is not None:
            (root / VERSION_FILE).write_text(version_text, encoding="ascii")
        self.install_product(version=3, url32=f"{server.url}/files", url64=f"{server.url}/files")
        return server, root

    def downloaded_installers(self):
        return [f for d in self.download_dirs() for f in d.glob(INSTALLER)]

    def expect_started(self, updater):
        self.start_updater(updater)
        self.assertTrue(self.wait_for_mark(), "the installer was not started")
        self.expect_exit_zero()

    def expect_refused(self, updater, retry_with=None):
        """The installer is refused: the Retry/Cancel box saying so, nothing
        started, the refused file gone. With retry_with, the server then
        offers that installer (the version file stays as it was: Retry
        fetches the installer alone), and Retry fetches and starts it; else
        Cancel."""
        server, root = self.server_for_this_windows()
        self.start_updater(updater)
        box = self.message_box()
        self.assertEqual((box["text"], box["buttons"]), (ENGLISH["VerifyFail"], MB_RETRYCANCEL_BUTTONS))
        self.assertEqual(self.installer_marks(), [], "a refused installer was started")
        self.assertEqual(self.downloaded_installers(), [], "the refused file was left behind")
        self.assertEqual(server.requests, [f"/files/{VERSION_FILE}", f"/files/{INSTALLER}"])
        if retry_with is None:
            self.assertEqual(self.driver(f"press {IDCANCEL}"), "ok")
            self.expect_exit_zero()
            self.assertEqual(self.installer_marks(), [])
            return
        shutil.copy(self.files.installers[retry_with], root / INSTALLER)
        self.assertEqual(self.driver(f"press {IDRETRY}"), "ok")
        self.assertTrue(self.wait_for_mark(), "Retry did not fetch and start the genuine installer")
        self.expect_exit_zero()
        self.assertEqual(server.requests, [f"/files/{VERSION_FILE}", f"/files/{INSTALLER}", f"/files/{INSTALLER}"])


class SignatureReaders(AuthenticityCase):
    def test_readers_on_real_signatures(self):
        names = ["unsigned", "vendor", "vendor-renewed", "other", "tampered"]
        big = self.files.dir / "big.bin"
        big.write_bytes(os.urandom(200 * 1024 + 7))
        missing = self.files.dir / "missing.exe"
        seen = probe(self.bin, *(self.files.installers[n] for n in names), self.files.updater, big, missing)
        by_name = dict(zip(names + ["updater", "big", "missing"], seen))
        vendor = ("Orvanta Test Vendor", "Orvanta Test Vendor Code Signing")
        expected = {
            "unsigned": ("unsigned", "800b0100", ("", "")),
            "vendor": ("valid", "00000000", vendor),
            "vendor-renewed": ("valid", "00000000", vendor),
            "other": ("valid", "00000000", ("Other Software Ltd", "Other Software Ltd")),
            "tampered": ("invalid", "80096010", ("", "")),  # TRUST_E_BAD_DIGEST
            "updater": ("valid", "00000000", vendor),
        }
        for name, (state, result, (organization, common_name)) in expected.items():
            with self.subTest(name):
                line = by_name[name]
                self.assertEqual((line["state"], line["result"]), (state, result))
                self.assertEqual((line["O"], line["CN"]), (organization, common_name))
        for name, path in [(n, self.files.installers[n]) for n in names] + [("big", big)]:
            self.assertEqual(by_name[name]["sha256"], hashlib.sha256(path.read_bytes()).hexdigest(), name)
        self.assertEqual(by_name["missing"]["state"], "invalid")
        self.assertEqual(by_name["missing"]["sha256"], "-")


class SignedUpdater(AuthenticityCase):
    # A signed updater acts only on the vendor's signed announcement (see
    # signed_announcement_test.py); each announcement here is genuine.
    def test_installer_of_the_same_publisher_is_started(self):
        # The renewed certificate has a new key and serial, the same names.
        for installer in ("vendor", "vendor-renewed"):
            with self.subTest(installer):
                self.setUp()
                self.serve(installer, announced=installer)
                self.expect_started(self.files.updater)

    def test_foreign_unsigned_or_tampered_installer_is_refused(self):
        # The announcement names the very file served, as if the vendor's
        # key had signed it: the installer's signature alone must refuse
        # these. Retry fetches the installer again against the same hash, so
        # the one offered then is the one announced, put right.
        for installer in ("other", "unsigned", "tampered"):
            with self.subTest(installer):
                self.setUp()
                self.serve(installer, announced=installer)
                self.expect_refused(self.files.updater)
        with self.subTest("retry"):
            self.setUp()
            self.serve("other", announced="vendor")  # the hash of the genuine one
            self.expect_refused(self.files.updater, retry_with="vendor")

    def test_installer_of_an_expired_certificate_is_refused(self):
        if not wine_checks_certificate_dates(self.bin, self.files):
            self.skipTest("this Wine's WinVerifyTrust does not check certificate dates "
                          "(unit tests cover the decision: CERT_E_EXPIRED is an invalid signature)")
        self.serve("vendor-expired", announced="vendor-expired")
        self.expect_refused(self.files.updater)

    def test_genuine_signature_with_another_hash_is_refused(self):
        # Signed by the vendor, but not the file the announcement names: an
        # older genuine installer replayed, say. Retry then gets the named one.
        self.serve("vendor", announced="vendor-renewed")
        self.expect_refused(self.files.updater, retry_with="vendor-renewed")


class UnsignedUpdater(AuthenticityCase):
    def test_no_publisher_rule_for_a_development_build(self):
        for installer in ("other", "unsigned"):
            with self.subTest(installer):
                self.setUp()
                self.serve(installer)
                self.expect_started(self.bin / "Quillon.exe")

    def test_installer_sha256(self):
        updater = self.bin / "Quillon.exe"
        with self.subTest("matching"):
            self.setUp()
            self.serve("unsigned")
            self.expect_started(updater)
        with self.subTest("absent: as before the key existed"):
            self.setUp()
            self.serve("unsigned", version_text="no hash")
            self.expect_started(updater)
        other_hash = hashlib.sha256(b"another file").hexdigest()
        refused = {
            "mismatch": other_hash,
            "mismatch, upper case": other_hash.upper(),
            "malformed": other_hash[:63],
            "empty": "",
        }
        for name, value in refused.items():
            with self.subTest(name):
                self.setUp()
                self.serve("unsigned", version_text=f"[ServerSoftVersion]\r\nLatestVersion=7\r\nInstallerSha256={value}\r\n")
                self.expect_refused(updater)
        with self.subTest("upper case digits of the right hash"):
            self.setUp()
            right = hashlib.sha256(self.files.installers["unsigned"].read_bytes()).hexdigest().upper()
            self.serve("unsigned", version_text=f"[ServerSoftVersion]\r\nLatestVersion=7\r\nInstallerSha256={right}\r\n")
            self.expect_started(updater)


if __name__ == "__main__":
    rest = harness.parse_arguments()
    ARGS = harness.ARGS
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
