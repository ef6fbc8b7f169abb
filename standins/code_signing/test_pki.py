#!/usr/bin/env python3
"""A throw-away code-signing authority for tests and the demo: a root CA and a
few code-signing certificates, made with openssl, and Authenticode signing with
osslsigncode. It stands in for a vendor's real certificate (bought from a
public CA); its root is trusted only inside a Wine prefix, with trust_root.exe.

    test_pki.py make DIR                        the CA and every signer in DIR
    test_pki.py sign DIR SIGNER INPUT OUTPUT    sign a PE file as SIGNER

Signers:
  vendor            the product's publisher
  vendor-renewed    the same publisher's next certificate: same names, new key
  vendor-expired    the same publisher's certificate that ran out in 2021
  vendor-tls        the publisher's names on a certificate for TLS servers,
                    not for code signing
  vendor-stranger   the publisher's names from another CA, which nobody trusts
  other             another publisher
Signatures carry no timestamp, so an expired certificate does not verify.
"""
import argparse
import pathlib
import subprocess
import sys
import tempfile

VENDOR = {"O": "Orvanta Test Vendor", "CN": "Orvanta Test Vendor Code Signing"}
# name: (subject, validity or None, extensions, the CA that issues it)
SIGNERS = {
    "vendor": (VENDOR, None, "code_signing", "ca"),
    "vendor-renewed": (VENDOR, None, "code_signing", "ca"),
    "vendor-expired": (VENDOR, ("20200101000000Z", "20210101000000Z"), "code_signing", "ca"),
    "vendor-tls": (VENDOR, None, "tls_server", "ca"),
    "vendor-stranger": (VENDOR, None, "code_signing", "stranger-ca"),
    "other": ({"O": "Other Software Ltd", "CN": "Other Software Ltd"}, None, "code_signing", "ca"),
}
# The CAs: the test root, trusted where a test says so, and a stranger's.
AUTHORITIES = {
    "ca": "/O=Quillon Test Authority/CN=Quillon Test Root CA",
    "stranger-ca": "/O=Stranger Test Authority/CN=Stranger Test Root CA",
}

CA_CONFIG = """\
[ca]
default_ca = test_ca
[test_ca]
dir = {dir}
database = $dir/{ca}-index.txt
serial = $dir/{ca}-serial
new_certs_dir = $dir/issued
certificate = $dir/{ca}.pem
private_key = $dir/{ca}.key
default_md = sha256
default_days = 3650
policy = any
copy_extensions = none
unique_subject = no
[any]
organizationName = supplied
commonName = supplied
[code_signing]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[tls_server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
"""


def openssl(*args, cwd=None):
    subprocess.run(["openssl", *args], check=True, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


class TestPki:
    def __init__(self, directory):
        self.dir = pathlib.Path(directory).resolve()

    @property
    def ca_der(self):
        """The root certificate in DER form, as trust_root.exe takes it."""
        return self.dir / "ca.der"

    def make(self):
        """Creates the CAs and every signer that is not there yet; what is
        there is kept."""
        self.dir.mkdir(parents=True, exist_ok=True)
        (self.dir / "issued").mkdir(exist_ok=True)
        for ca, subject in AUTHORITIES.items():
            index = self.dir / f"{ca}-index.txt"
            if not index.exists():
                index.write_text("")
            if (self.dir / f"{ca}.der").exists():
                continue
            config = self._config(ca)
            openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{ca}.key", "-out", f"{ca}.pem",
                    "-days", "3650", "-subj", subject, "-config", str(config), "-extensions", "root", cwd=self.dir)
            openssl("x509", "-in", f"{ca}.pem", "-outform", "DER", "-out", f"{ca}.der", cwd=self.dir)
        for name, (subject, validity, extensions, ca) in SIGNERS.items():
            if (self.dir / f"{name}.pem").exists():
                continue
            openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key", "-out", f"{name}.csr",
                    "-subj", "".join(f"/{k}={v}" for k, v in subject.items()), cwd=self.dir)
            dates = ["-startdate", validity[0], "-enddate", validity[1]] if validity else []
            # Random serials: no two certificates of a CA share one, whichever
            # run of this script made them.
            openssl("ca", "-batch", "-rand_serial", "-config", str(self._config(ca)), "-extensions", extensions, *dates,
                    "-in", f"{name}.csr", "-out", f"{name}.part", "-notext", cwd=self.dir)
            # Renamed last: a run cut short makes the signer again next time.
            (self.dir / f"{name}.part").rename(self.dir / f"{name}.pem")
        return self

    def _config(self, ca):
        config = self.dir / f"{ca}.cnf"
        config.write_text(CA_CONFIG.format(dir=self.dir, ca=ca))
        return config

    def chain(self, signer):
        """The signer's certificate, then its CA's (PEM)."""
        ca = SIGNERS[signer][3]
        return (self.dir / f"{signer}.pem").read_text() + (self.dir / f"{ca}.pem").read_text()

    def sign_detached(self, signer, data, *options):
        """A detached CMS signature (DER) over data as signer, made by openssl
        cms, carrying its certificate and its CA's; options go to openssl cms
        (e.g. -noattr, -md sha1)."""
        with tempfile.TemporaryDirectory() as work:
            work = pathlib.Path(work)
            (work / "data").write_bytes(data)
            openssl("cms", "-sign", "-binary", "-outform", "DER", "-md", "sha256",
                    "-signer", str(self.dir / f"{signer}.pem"), "-inkey", str(self.dir / f"{signer}.key"),
                    "-certfile", str(self.dir / f"{SIGNERS[signer][3]}.pem"), *options,
                    "-in", str(work / "data"), "-out", str(work / "signature"))
            return (work / "signature").read_bytes()

    def sign(self, signer, source, target):
        """Writes target, an Authenticode-signed copy of the PE file source."""
        if signer not in SIGNERS:
            raise ValueError(f"unknown signer {signer!r}")
        target = pathlib.Path(target)
        target.unlink(missing_ok=True)
        # The signer's certificate and the root, so that the chain is complete
        # inside the signature.
        with tempfile.NamedTemporaryFile("w", suffix=".pem", delete=False) as chain:
            chain.write(self.chain(signer))
        try:
            subprocess.run(["osslsigncode", "sign", "-certs", chain.name, "-key", str(self.dir / f"{signer}.key"),
                            "-h", "sha256", "-n", "Quillon test", "-in", str(source), "-out", str(target)],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        finally:
            pathlib.Path(chain.name).unlink()
        return target


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    make = commands.add_parser("make")
    make.add_argument("dir")
    sign = commands.add_parser("sign")
    sign.add_argument("dir")
    sign.add_argument("signer", choices=sorted(SIGNERS))
    sign.add_argument("input")
    sign.add_argument("output")
    args = parser.parse_args()
    pki = TestPki(args.dir).make()
    if args.command == "sign":
        pki.sign(args.signer, args.input, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
