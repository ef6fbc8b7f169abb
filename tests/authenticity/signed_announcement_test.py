#!/usr/bin/env python3
"""Signed update announcements, under Wine: a signed Quillon against Debian's
nginx, over HTTPS and over plain HTTP (served directly, as a server set up
against the example's advice would be, where anyone on the way can rewrite
the answers), and the platform's check of real CMS signatures.

A throw-away CA (standins/code_signing/test_pki.py) signs Quillon, the
installers and the announcements; its root is trusted inside this test's
Wine prefix only, for the time of the test. Announcements are published with
the operators' script (tools/publish_update.py), then changed as someone who
controls the server, but not the vendor's key, would change them.

What Wine 8 cannot show: its WinVerifyTrust checks neither the dates nor the
root of an installer's or of Quillon's own signature (see
installer_authenticity_test.py), and its CryptMsgControl does not check the
messageDigest of signed attributes against the content, which the updater
therefore checks itself. Its chain engine does judge dates, the root and the
code-signing usage: those refusals are shown here."""
import base64
import hashlib
import pathlib
import shutil
import sys
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "tests" / "authenticity"))
sys.path.insert(0, str(ROOT / "standins" / "code_signing"))
sys.path.insert(0, str(ROOT / "tools"))
import publish_update  # noqa: E402
import updater_e2e_test as harness  # noqa: E402
from installer_authenticity_test import SignedFiles, run_wine_program, trust_root, windows_path  # noqa: E402
from nginx_server import NginxServer, trust_ca_in_prefix, untrust_ca_in_prefix  # noqa: E402
from updater_e2e_test import ENGLISH, FAILED, INSTALLER, REFUSED, STARTED, UP_TO_DATE, VERSION_FILE  # noqa: E402

NEW_VERSION = 9  # the product has version 3 installed (UpdaterCase.point_at)
IDRETRY = 4


def sha256_hex(path):
    return hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest()


def with_value(version_text, key, value):
    """The version file with key's line changed to value; None removes it."""
    lines = []
    found = False
    for line in version_text.split("\r\n"):
        if line.startswith(f"{key}="):
            found = True
            if value is None:
                continue
            line = f"{key}={value}"
        lines.append(line)
    assert found, f"no {key} in the version file"
    return "\r\n".join(lines)


class SignedAnnouncementCase(harness.UpdaterCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.files = SignedFiles(cls.bin, cls.work)
        cls.pki = cls.files.pki
        trust_root(cls.bin, cls.pki, "add")
        cls.addClassCleanup(trust_root, cls.bin, cls.pki, "remove")
        cls.served = cls.work / "nginx-root"
        cls.nginx = NginxServer(cls.served, cls.work / "nginx", plain_http=True).start()
        cls.addClassCleanup(cls.nginx.stop)
        trust_ca_in_prefix(cls.nginx.ca_certificate, cls.bin)
        cls.addClassCleanup(untrust_ca_in_prefix, cls.nginx.ca_certificate, cls.bin)
        cls.schemes = {"https": cls.nginx.https_url, "plain http": cls.nginx.http_url}

    def setUp(self):
        super().setUp()
        shutil.rmtree(self.served, ignore_errors=True)
        self.served.mkdir(parents=True)
        self.nginx.clear_requests()

    # ---- helpers ----
    def publish(self, installer="vendor", version=NEW_VERSION, signer="vendor"):
        """Publishes one of the signed files' installers as the operator
        does, the announcement signed as signer (None: unsigned)."""
        signing = None
        if signer:
            signing = {"cert": self.pki.dir / f"{signer}.pem", "key": self.pki.dir / f"{signer}.key"}
        publish_update.publish(self.files.installers[installer], version, self.served, signing)

    def version_text(self):
        """The published version file as it stands, CR LF kept."""
        return (self.served / VERSION_FILE).read_bytes().decode("ascii")

    def rewrite_version_file(self, text):
        (self.served / VERSION_FILE).write_bytes(text.encode("ascii"))

    def signature_over(self, signer, text, *options):
        """base64 of signer's detached signature over text (bytes); options
        go to openssl cms."""
        return base64.b64encode(self.pki.sign_detached(signer, text, *options)).decode("ascii")

    def requested(self):
        return [path for path, _ in self.nginx.requests()]


class SignedAnnouncements(SignedAnnouncementCase):
    def test_what_the_server_serves_decides_the_outcome(self):
        version_file, installer = f"/{VERSION_FILE}", f"/{INSTALLER}"
        https, plain_http = {"https": self.nginx.https_url}, {"plain http": self.nginx.http_url}

        def older_installer_behind():
            # The announcement is the vendor's; the file behind it is an older
            # installer the vendor signed as well. Its signature passes, its
            # hash does not.
            shutil.copy(self.files.installers["vendor-renewed"], self.served / INSTALLER)

        def removed(name):
            return lambda: (self.served / name).unlink()

        cases = {
            # name: (version announced, change after publishing, servers, outcome, requests and answers)
            "genuine announcement installs": (
                NEW_VERSION, None, self.schemes, STARTED, [(version_file, 200), (installer, 200)]),
            "older genuine installer under the newer announcement": (
                NEW_VERSION, older_installer_behind, self.schemes, REFUSED, [(version_file, 200), (installer, 200)]),
            # A signed updater tells a file that did not arrive from one it
            # refused: the user is sent to the network, not to a security check.
            "no version file": (NEW_VERSION, removed(VERSION_FILE), https, FAILED, [(version_file, 404)]),
            "no installer behind the genuine announcement": (
                NEW_VERSION, removed(INSTALLER), https, FAILED, [(version_file, 200), (installer, 404)]),
            # Genuine announcements, replayed, only say up to date.
            "replayed announcement of the installed version": (
                3, None, plain_http, UP_TO_DATE, [(version_file, 200)]),
            "replayed announcement of an older version": (2, None, plain_http, UP_TO_DATE, [(version_file, 200)]),
        }
        for name, (version, change, schemes, outcome, requests) in cases.items():
            for scheme, url in schemes.items():
                with self.subTest(name, scheme=scheme):
                    self.setUp()
                    self.publish(version=version)
                    if change:
                        change()
                    self.run_case(url, {outcome}, updater=self.files.updater)
                    self.assertEqual(self.nginx.requests(), requests)

    def test_refused_announcement_fetches_and_starts_nothing(self):
        genuine_hash = sha256_hex(self.files.installers["vendor"])
        older_hash = sha256_hex(self.files.installers["vendor-renewed"])

        def other_context():
            text = publish_update.announcement_text(NEW_VERSION, genuine_hash)
            text = text.replace(publish_update.ANNOUNCEMENT_CONTEXT.encode(),
                                b"Quillon update announcement 1 for Other/Product")
            return self.signature_over("vendor", text)

        def older_installer_named():
            # The older installer is genuine too: only the signed hash tells.
            shutil.copy(self.files.installers["vendor-renewed"], self.served / INSTALLER)
            return with_value(self.version_text(), "InstallerSha256", older_hash)

        tampered = {
            "signature removed": lambda: with_value(self.version_text(), "Signature", None),
            "LatestVersion edited after signing": lambda: with_value(self.version_text(), "LatestVersion", "10"),
            "InstallerSha256 edited to an older genuine installer's": older_installer_named,
            "another publisher's signature": lambda: with_value(self.version_text(), "Signature", self.signature_over(
                "other", publish_update.announcement_text(NEW_VERSION, genuine_hash))),
            "signed for another context": lambda: with_value(self.version_text(), "Signature", other_context()),
        }
        for name, tamper in tampered.items():
            for scheme, url in self.schemes.items():
                with self.subTest(name, scheme=scheme):
                    self.setUp()
                    self.publish()
                    self.rewrite_version_file(tamper())
                    self.run_case(url, {REFUSED}, updater=self.files.updater)
                    self.assertEqual(self.requested(), [f"/{VERSION_FILE}"], "an installer was fetched")

    def test_retry_fetches_the_announcement_again(self):
        # The operator replaces an edited announcement while the box is up.
        self.publish()
        self.rewrite_version_file(with_value(self.version_text(), "LatestVersion", "10"))
        self.point_at(self.nginx.https_url)
        self.start_updater(self.files.updater)
        box = self.message_box()
        self.assertEqual(box["text"], ENGLISH["VerifyFail"])
        self.publish()
        self.assertEqual(self.driver(f"press {IDRETRY}"), "ok")
        self.assertTrue(self.wait_for_mark(), "Retry did not fetch the genuine announcement and its installer")
        self.expect_exit_zero()
        self.assertEqual(self.requested(), [f"/{VERSION_FILE}", f"/{VERSION_FILE}", f"/{INSTALLER}"])

    def test_unsigned_updater_ignores_the_signature(self):
        # A development build acts as before: an edited, wrongly signed
        # announcement of an unsigned installer still installs.
        self.publish(installer="unsigned", signer=None)
        text = with_value(self.version_text(), "LatestVersion", "10") + "Signature=not base64!\r\n"
        self.rewrite_version_file(text)
        self.run_case(self.nginx.http_url, {STARTED})


class PlatformCheck(SignedAnnouncementCase):
    """What the updater's readers and crypt32 make of real signatures, all
    in one run of signature_probe.exe."""

    def test_real_signatures(self):
        digest = sha256_hex(self.files.installers["vendor"])
        text = publish_update.announcement_text(NEW_VERSION, digest)
        vendor = ("Orvanta Test Vendor", "Orvanta Test Vendor Code Signing")

        def signed(signer, *options, over=text):
            return self.signature_over(signer, over, *options)

        cases = {
            # name: (version, Signature value, check (or the checks allowed), chain error bits, signer)
            "openssl's defaults: signed attributes": (NEW_VERSION, signed("vendor"), "verified", 0, vendor),
            "no signed attributes": (NEW_VERSION, signed("vendor", "-noattr"), "verified", 0, vendor),
            "renewed certificate": (NEW_VERSION, signed("vendor-renewed"), "verified", 0, vendor),
            "another publisher": (NEW_VERSION, signed("other"), "verified", 0,
                                  ("Other Software Ltd", "Other Software Ltd")),
            # The text differs from the one signed: what Wine's CryptMsgControl
            # lets through with signed attributes, the messageDigest catches.
            "version edited, signed attributes": (10, signed("vendor"), "doesnotverify", 0, vendor),
            "version edited, no attributes": (10, signed("vendor", "-noattr"), "doesnotverify", 0, vendor),
            # A signature that carries a text of its own, the vendor's for
            # version 10: it verifies, but not over the text of version 9.
            # Wine's crypt32 verifies it over the text given beside it; the
            # updater's own comparison of the digest computed over the
            # content covers a platform that would take the signature's own.
            "content of its own": (NEW_VERSION, signed("vendor", "-nodetach", "-noattr",
                                                       over=text.replace(b"=9\n", b"=10\n")),
                                   "doesnotverify", 0, vendor),
            "another context": (NEW_VERSION, signed("vendor", over=text.replace(b"Orvanta/58P7M_WRZ", b"Other/X")),
                                "doesnotverify", 0, vendor),
            "SHA-1": (NEW_VERSION, signed("vendor", "-md", "sha1"), "notsha256", 0, ("", "")),
            # Wine's crypt32 already fails to take the text of a signature
            # with two signers (E_INVALIDARG): refused all the same.
            "two signers": (NEW_VERSION, signed("vendor", "-signer", str(self.pki.dir / "other.pem"),
                                                "-inkey", str(self.pki.dir / "other.key")),
                            ("notonesigner", "unreadable"), 0, ("", "")),
            "no certificate carried": (NEW_VERSION, signed("vendor", "-nocerts"), "nosignercertificate", 0, ("", "")),
            "a certificate, not a signature": (NEW_VERSION, base64.b64encode(
                (self.pki.dir / "ca.der").read_bytes()).decode(), "unreadable", 0, ("", "")),
            # The chain: CERT_TRUST_IS_NOT_TIME_VALID, _IS_NOT_VALID_FOR_USAGE, _IS_UNTRUSTED_ROOT.
            "expired certificate": (NEW_VERSION, signed("vendor-expired"), "signernottrusted", 0x1, vendor),
            "not for code signing": (NEW_VERSION, signed("vendor-tls"), "signernottrusted", 0x10, vendor),
            "a root nobody trusts": (NEW_VERSION, signed("vendor-stranger"), "signernottrusted", 0x20, vendor),
        }
        folder = self.work / "announcements"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        paths = []
        for number, (name, (version, signature, _, _, _)) in enumerate(cases.items()):
            path = folder / f"{number:02d}.ini"
            path.write_text(f"[ServerSoftVersion]\r\nLatestVersion={version}\r\nInstallerSha256={digest}\r\n"
                            f"Signature={signature}\r\n", encoding="ascii")
            paths.append(path)
        lines = run_wine_program(self.bin / "signature_probe.exe", "--announcement",
                                 *map(windows_path, paths)).splitlines()
        self.assertEqual(len(lines), len(cases), lines)
        for line, (name, (_, _, check, chain, signer)) in zip(lines, cases.items()):
            with self.subTest(name):
                seen = dict(field.split("=", 1) for field in line.split("\t"))
                self.assertEqual(seen["signature"], "present")
                self.assertIn(seen["check"], (check,) if isinstance(check, str) else check, line)
                self.assertEqual((int(seen["chain"], 16), (seen["O"], seen["CN"])), (chain, signer), line)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + harness.parse_arguments(), verbosity=2)
