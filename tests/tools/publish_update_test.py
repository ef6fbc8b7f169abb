#!/usr/bin/env python3
"""The operators' publishing script, on the host: what it leaves in the server
folder is what the updater reads, and what it refuses to sign it leaves
alone.

    publish_update_test.py [--program PE]   PE: a Windows program to sign as
                                            the installer (default: the
                                            build's mark_file.exe)"""
import argparse
import base64
import configparser
import hashlib
import io
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest
from contextlib import redirect_stderr, redirect_stdout
from unittest import mock

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
sys.path.insert(0, str(ROOT / "standins" / "code_signing"))
import publish_update  # noqa: E402
import test_pki  # noqa: E402

ARGS = None


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

    def test_a_copy_that_is_not_the_hashed_installer_is_not_published(self):
        # The installer changed between its hash and its copy: what would go
        # out is not what the version file names.
        def other_bytes(source, target):
            target.write(b"MZ another installer")
        with mock.patch.object(publish_update.shutil, "copyfileobj", other_bytes):
            code, errors = run("--installer", str(self.installer), "--version", "9", "--server-dir", str(self.server))
        self.assertEqual(code, 1)
        self.assertIn("changed while it was published; nothing was published", errors)
        self.assertEqual(list(self.server.iterdir()), [])

    def test_a_version_file_that_cannot_be_written_is_told_apart(self):
        # The installer is already out when the version file fails: the
        # operator must not read that nothing was published.
        (self.server / publish_update.VERSION_FILE).mkdir(parents=True)
        code, errors = run("--installer", str(self.installer), "--version", "9", "--server-dir", str(self.server))
        self.assertEqual(code, 1)
        self.assertIn(f"{publish_update.VERSION_FILE} could not be written", errors)
        self.assertNotIn("nothing was published", errors)
        self.assertEqual((self.server / publish_update.INSTALLER).read_bytes(), self.installer.read_bytes())
        self.assertEqual(sorted(p.name for p in self.server.iterdir()),
                         sorted([publish_update.INSTALLER, publish_update.VERSION_FILE]), "a temporary file stayed")


class SignedPublishing(unittest.TestCase):
    """Signing with the throw-away CA's certificates, with openssl as an
    operator's machine has it."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = pathlib.Path(tempfile.mkdtemp())
        cls.pki = test_pki.TestPki(cls.tmp / "pki").make()
        cls.installer = cls.pki.sign("vendor", ARGS.program, cls.tmp / "Setup-signed.exe")
        cls.unsigned = cls.tmp / "Setup-unsigned.exe"
        shutil.copy(ARGS.program, cls.unsigned)
        # The same signed installer with the signer's O= made a BMPString of
        # an odd number of bytes, which no UTF-16 text can be.
        organization = test_pki.VENDOR["O"].encode("ascii")
        signed = cls.installer.read_bytes()
        cls.unreadable = cls.tmp / "Setup-unreadable.exe"
        cls.unreadable.write_bytes(signed.replace(bytes([0x0C, len(organization)]) + organization,
                                                  bytes([0x1E, len(organization)]) + organization)
                                   .replace(bytes([0x13, len(organization)]) + organization,
                                            bytes([0x1E, len(organization)]) + organization))
        assert cls.unreadable.read_bytes() != signed, "the signer's O= was not found"
        cls.pkcs12 = cls.tmp / "vendor.p12"
        subprocess.run(["openssl", "pkcs12", "-export", "-in", str(cls.pki.dir / "vendor.pem"),
                        "-inkey", str(cls.pki.dir / "vendor.key"), "-certfile", str(cls.pki.dir / "ca.pem"),
                        "-out", str(cls.pkcs12), "-passout", "pass:token 1234"], check=True, capture_output=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def setUp(self):
        self.server = pathlib.Path(tempfile.mkdtemp(dir=self.tmp))

    def signer(self, name):
        return ["--signing-cert", str(self.pki.dir / f"{name}.pem"),
                "--signing-key", str(self.pki.dir / f"{name}.key")]

    def publish(self, *signing, installer=None, version="9", password=None):
        environment = {k: v for k, v in os.environ.items() if k != publish_update.PASSWORD_VARIABLE}
        if password is not None:
            environment[publish_update.PASSWORD_VARIABLE] = password
        with mock.patch.dict(os.environ, environment, clear=True):
            return run("--installer", str(installer or self.installer), "--version", version,
                       "--server-dir", str(self.server), *signing)

    def signed_text(self, signature):
        """The text a detached signature verifies over with the test root
        trusted (openssl cms -verify), or None."""
        (self.tmp / "signature.der").write_bytes(signature)
        expected = publish_update.announcement_text(9, hashlib.sha256(self.installer.read_bytes()).hexdigest())
        (self.tmp / "text").write_bytes(expected)
        done = subprocess.run(["openssl", "cms", "-verify", "-binary", "-inform", "DER",
                               "-in", str(self.tmp / "signature.der"), "-content", str(self.tmp / "text"),
                               "-CAfile", str(self.pki.dir / "ca.pem"), "-purpose", "any",
                               "-signer", str(self.tmp / "signer.pem"), "-out", os.devnull], capture_output=True)
        return expected if done.returncode == 0 else None

    def test_signed_announcement_with_pem_or_pkcs12(self):
        sha256 = hashlib.sha256(self.installer.read_bytes()).hexdigest()
        # The exact bytes signed: the updater's own unit test holds the same.
        text = (b"Quillon update announcement 1 for Orvanta/58P7M_WRZ\nLatestVersion=9\n"
                b"InstallerSha256=" + sha256.encode() + b"\n")
        self.assertEqual(publish_update.announcement_text(9, sha256.upper()), text)
        for name, signing, password in (("PEM", self.signer("vendor"), None),
                                        ("PKCS#12", ["--signing-pkcs12", str(self.pkcs12)], "token 1234")):
            with self.subTest(name):
                self.setUp()
                code, errors = self.publish(*signing, password=password)
                self.assertEqual(code, 0, errors)
                parser = configparser.ConfigParser()
                parser.read_string((self.server / publish_update.VERSION_FILE).read_text(encoding="ascii"))
                values = dict(parser["ServerSoftVersion"])
                self.assertEqual((values["latestversion"], values["installersha256"]), ("9", sha256))
                signature = base64.b64decode(values["signature"], validate=True)
                self.assertEqual(self.signed_text(signature), text)
                signer = subprocess.run(["openssl", "x509", "-in", str(self.tmp / "signer.pem"), "-noout", "-subject"],
                                        capture_output=True, text=True).stdout
                self.assertIn("CN = Orvanta Test Vendor Code Signing", signer)
                self.assertEqual((self.server / publish_update.INSTALLER).read_bytes(), self.installer.read_bytes())

    def test_refusals_publish_nothing(self):
        # A release is out; each refused attempt leaves it as it was.
        self.assertEqual(self.publish(*self.signer("vendor"), version="8")[0], 0)
        before = {p.name: p.read_bytes() for p in self.server.iterdir()}
        pkcs12 = ["--signing-pkcs12", str(self.pkcs12)]
        cases = {
            "a certificate without its key": (["--signing-cert", str(self.pki.dir / "vendor.pem")], {},
                                              "--signing-cert needs --signing-key"),
            "a key without its certificate": (["--signing-key", str(self.pki.dir / "vendor.key")], {},
                                              "--signing-key needs --signing-cert"),
            "PKCS#12 beside a certificate": (pkcs12 + ["--signing-cert", str(self.pki.dir / "vendor.pem")], {},
                                             "give it alone"),
            "PKCS#12 without its password": (pkcs12, {}, publish_update.PASSWORD_VARIABLE),
            "PKCS#12 with a wrong password": (pkcs12, {"password": "wrong"}, "wrong password"),
            "the key of another certificate": (["--signing-cert", str(self.pki.dir / "vendor.pem"),
                                                "--signing-key", str(self.pki.dir / "other.key")], {},
                                               "does not belong to the certificate"),
            "a certificate for TLS, not code signing": (self.signer("vendor-tls"), {}, "not for code signing"),
            "an expired certificate": (self.signer("vendor-expired"), {}, "not valid now"),
            "another subject than the installer's signer": (self.signer("other"), {},
                                                            "differs from the installer's signer"),
            "an unsigned installer": (self.signer("vendor"), {"installer": self.unsigned},
                                      "carries no Authenticode signature"),
            "an installer whose signer's name cannot be read": (self.signer("vendor"), {"installer": self.unreadable},
                                                                "carries no Authenticode signature"),
        }
        for name, (signing, options, message) in cases.items():
            with self.subTest(name):
                code, errors = self.publish(*signing, **options)
                self.assertNotEqual(code, 0)
                self.assertIn(message, errors)
                self.assertEqual({p.name: p.read_bytes() for p in self.server.iterdir()}, before,
                                 "something was published")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", default=str(ROOT / "build" / "bin" / "mark_file.exe"))
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
