#!/usr/bin/env python3
"""Publishes an update for Quillon: puts the installer into the server
directory under the name the updater fetches and writes the version file
beside it, with the installer's SHA-256 and, when a signing certificate is
given, the signed announcement.

    publish_update.py --installer Setup.exe --version 9 --server-dir /srv/www/quillon \\
        [--signing-cert CERT.pem --signing-key KEY.pem | --signing-pkcs12 CERT.p12]

The server directory is the folder that SoftServerUrl (or SoftServerUrl_X64)
names. Afterwards it holds:

    WRZ_QVL_Keyward_Install.exe   the installer
    WRZ_QVLVer.ini                [ServerSoftVersion]
                                  LatestVersion=9
                                  InstallerSha256=<64 hex digits>
                                  Signature=<base64>   (when signing)

Signing (what a signed Quillon requires): the announcement is a text made of
LatestVersion and InstallerSha256 (see docs/updater.md, "Signed
announcements"), signed with openssl as a detached CMS signature, SHA-256,
carrying the signing certificate and any further certificates of the
certificate file. The certificate must be for code signing, valid now, and
name the same publisher (O and CN) as the installer's Authenticode signer.

  --signing-cert CERT.pem   the signing certificate first, then any
                            intermediate certificates
  --signing-key KEY.pem     its private key, or a pkcs11: URI of a key on a
                            hardware token (openssl's pkcs11 engine)
  --signing-pkcs12 F.p12    certificate, chain and key in one file

The password of a PKCS#12 file, or of an encrypted key, comes from the
environment variable QUILLON_SIGNING_PASSWORD; it is handed to openssl by
name and never appears on a command line. Without it, an encrypted key is
refused (openssl is not left asking on the terminal).

Nothing is written before every check has passed and the announcement is
signed. Each file is then written under a temporary name and renamed, the
installer first (once its copy is known to be the file hashed), so that a
client never reads half a file and never reads a version file whose
installer is not there yet. Should the version file then fail to be
written, the script says that the installer alone was replaced. Sign the
installer before publishing: signing changes the file and so its hash.
"""
import argparse
import base64
import datetime
import hashlib
import os
import pathlib
import shutil
import signal
import struct
import subprocess
import sys
import tempfile

VERSION_FILE = "WRZ_QVLVer.ini"
INSTALLER = "WRZ_QVL_Keyward_Install.exe"
MAX_VERSION = 0xFFFFFFFF  # DisplayVersion is a REG_DWORD
# The first line of the signed text: the signature means nothing elsewhere.
ANNOUNCEMENT_CONTEXT = "Quillon update announcement 1 for Orvanta/58P7M_WRZ"
PASSWORD_VARIABLE = "QUILLON_SIGNING_PASSWORD"

# Object identifiers, as the contents of their DER encoding.
OID_ORGANIZATION = bytes.fromhex("55040a")            # 2.5.4.10
OID_COMMON_NAME = bytes.fromhex("550403")             # 2.5.4.3
OID_EXTENDED_KEY_USAGE = bytes.fromhex("551d25")      # 2.5.29.37
OID_CODE_SIGNING = bytes.fromhex("2b06010505070303")  # 1.3.6.1.5.5.7.3.3


class Refused(Exception):
    """A reason not to publish; nothing has been written."""


class PartlyPublished(Exception):
    """The installer is in place, but the version file could not be written."""


def version_number(text):
    """LatestVersion as the updater compares it: a whole number 1..4294967295,
    written in plain decimal."""
    if not (text.isascii() and text.isdigit()) or not 1 <= int(text) <= MAX_VERSION:
        raise argparse.ArgumentTypeError(f"not a version number from 1 to {MAX_VERSION}: {text!r}")
    return int(text)


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as data:
        for block in iter(lambda: data.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def announcement_text(version, sha256):
    """The bytes a signature covers: the values the updater acts on."""
    return f"{ANNOUNCEMENT_CONTEXT}\nLatestVersion={version}\nInstallerSha256={sha256.lower()}\n".encode("ascii")


def version_file_text(version, sha256, signature=None):
    text = f"[ServerSoftVersion]\r\nLatestVersion={version}\r\nInstallerSha256={sha256}\r\n"
    if signature is not None:
        text += f"Signature={base64.b64encode(signature).decode('ascii')}\r\n"
    return text


# ---- DER, as far as certificates and Authenticode signatures need it ----
# An element is (tag, header start, content start, end) within its buffer.
def der_items(data, start=0, end=None):
    """The elements in data[start:end], one after the other."""
    end = len(data) if end is None else end
    position = start
    while position < end:
        header = position
        if position + 2 > end:
            raise ValueError("truncated DER")
        tag, length = data[position], data[position + 1]
        position += 2
        if length & 0x80:
            count = length & 0x7F
            if count == 0 or count > 4 or position + count > end:
                raise ValueError("unsupported DER length")
            length = int.from_bytes(data[position:position + count], "big")
            position += count
        if position + length > end:
            raise ValueError("truncated DER")
        yield tag, header, position, position + length
        position += length


# What reading DER that is not what it should be raises (UnicodeDecodeError
# is a ValueError).
UNREADABLE_DER = (ValueError, IndexError, StopIteration)


def der_children(data, element):
    return list(der_items(data, element[2], element[3]))


def der_content(data, element):
    return data[element[2]:element[3]]


def der_string(data, element):
    tag, raw = element[0], der_content(data, element)
    if tag == 0x1E:  # BMPString
        return raw.decode("utf-16-be")
    if tag == 0x1C:  # UniversalString
        return raw.decode("utf-32-be")
    return raw.decode("utf-8" if tag == 0x0C else "latin-1")


class Certificate:
    """What publishing needs of an X.509 certificate in DER."""

    def __init__(self, der):
        self.der = der
        certificate = next(der_items(der))
        tbs = der_children(der, der_children(der, certificate)[0])
        if tbs[0][0] == 0xA0:  # the explicit version
            tbs = tbs[1:]
        self.serial = der_content(der, tbs[0])
        self.issuer = der_content(der, tbs[2])
        self.not_before, self.not_after = (self._time(der, item) for item in der_children(der, tbs[3]))
        self.subject = der_children(der, tbs[4])
        self.extensions = []
        for item in tbs[6:]:
            if item[0] == 0xA3:
                self.extensions = der_children(der, der_children(der, item)[0])
        # Read here, with the rest, so that a certificate that cannot be read
        # fails where it is read, not later where it is used.
        self.publisher = self.attribute(OID_ORGANIZATION), self.attribute(OID_COMMON_NAME)  # what Quillon compares
        self.extended_key_usages = self._extended_key_usages()

    @staticmethod
    def _time(der, item):
        text = der_content(der, item).decode("ascii")
        pattern = "%y%m%d%H%M%SZ" if item[0] == 0x17 else "%Y%m%d%H%M%SZ"
        return datetime.datetime.strptime(text, pattern).replace(tzinfo=datetime.timezone.utc)

    def attribute(self, oid):
        """The first value of one subject attribute; empty when there is none."""
        for rdn in self.subject:
            for pair in der_children(self.der, rdn):
                oid_item, value = der_children(self.der, pair)[:2]
                if der_content(self.der, oid_item) == oid:
                    return der_string(self.der, value)
        return ""

    def _extended_key_usages(self):
        """The EKU OIDs as DER contents; None when the extension is missing."""
        for extension in self.extensions:
            parts = der_children(self.der, extension)
            if der_content(self.der, parts[0]) != OID_EXTENDED_KEY_USAGE:
                continue
            value = parts[-1]  # an OCTET STRING, after the optional critical flag
            usages = next(der_items(self.der, value[2], value[3]))
            return [der_content(self.der, usage) for usage in der_children(self.der, usages)]
        return None


def authenticode_signer(path):
    """The certificate that signed the PE file at path (its Authenticode
    signature's one signer), or None when the file carries no signature."""
    data = pathlib.Path(path).read_bytes()
    try:
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
            return None
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        offset, size = struct.unpack_from("<II", data, directories + 4 * 8)
        if offset == 0 or size < 8 or offset + size > len(data):
            return None
        length, _, kind = struct.unpack_from("<IHH", data, offset)
        if kind != 2:  # WIN_CERT_TYPE_PKCS_SIGNED_DATA
            return None
        pkcs7 = data[offset + 8:offset + length]
        content_info = der_children(pkcs7, next(der_items(pkcs7)))
        signed_data = der_children(pkcs7, der_children(pkcs7, content_info[1])[0])
        certificates = [Certificate(pkcs7[c[1]:c[3]])
                        for part in signed_data if part[0] == 0xA0 for c in der_children(pkcs7, part)]
        signer_infos = der_children(pkcs7, signed_data[-1])
        if len(signer_infos) != 1:
            return None
        issuer_and_serial = der_children(pkcs7, der_children(pkcs7, signer_infos[0])[1])
        issuer = der_content(pkcs7, issuer_and_serial[0])
        serial = der_content(pkcs7, issuer_and_serial[1])
    except (*UNREADABLE_DER, struct.error):
        return None
    for certificate in certificates:
        if certificate.issuer == issuer and certificate.serial == serial:
            return certificate
    return None


# ---- signing with openssl ----
def openssl(*args, what):
    """Runs openssl; its standard output. A failure refuses, with openssl's words."""
    done = subprocess.run(["openssl", *args], stdin=subprocess.DEVNULL, capture_output=True)
    if done.returncode != 0:
        words = done.stderr.decode("utf-8", "replace").strip().splitlines()
        raise Refused(f"{what} ({words[0] if words else f'openssl failed with {done.returncode}'})")
    return done.stdout


def pem_certificates(text):
    """The PEM blocks of certificates in text, in order."""
    blocks, current = [], None
    for line in text.splitlines():
        if line.strip() == "-----BEGIN CERTIFICATE-----":
            current = [line]
        elif current is not None:
            current.append(line)
            if line.strip() == "-----END CERTIFICATE-----":
                blocks.append("\n".join(current) + "\n")
                current = None
    return blocks


class SigningIdentity:
    """The signing certificate, the further certificates to carry, and how
    openssl reaches the key."""

    def __init__(self, work, cert=None, key=None, pkcs12=None):
        self.work = work
        # Without the variable an encrypted key is refused at once: openssl
        # would otherwise ask for its password on the terminal.
        password = ["-passin", f"env:{PASSWORD_VARIABLE}" if os.environ.get(PASSWORD_VARIABLE) is not None else "pass:"]
        if pkcs12 is not None:
            if os.environ.get(PASSWORD_VARIABLE) is None:
                raise Refused(f"--signing-pkcs12 needs the file's password in the environment variable "
                              f"{PASSWORD_VARIABLE}")
            read = ["-in", str(pkcs12), *password]
            leaf = openssl("pkcs12", *read, "-nokeys", "-clcerts",
                           what=f"cannot read the certificate in {pkcs12} (wrong password, or not PKCS#12)")
            chain = openssl("pkcs12", *read, "-nokeys", "-cacerts", what=f"cannot read {pkcs12}")
            certificates = pem_certificates(leaf.decode("ascii", "replace"))
            extra = pem_certificates(chain.decode("ascii", "replace"))
            self.key_args = ["-inkey", str(pkcs12), *password]
            self.public_key_args = read
            self.origin = str(pkcs12)
        else:
            try:
                text = pathlib.Path(cert).read_text(encoding="ascii", errors="replace")
            except OSError as error:
                raise Refused(f"cannot read the signing certificate {cert}: {error.strerror}") from None
            certificates = pem_certificates(text)
            extra = certificates[1:]
            if str(key).startswith("pkcs11:"):
                engine = ["-engine", "pkcs11"]
                self.key_args = [*engine, "-keyform", "engine", "-inkey", str(key)]
                self.public_key_args = [*engine, "-inform", "engine", "-in", str(key)]
            else:
                if not pathlib.Path(key).is_file():
                    raise Refused(f"no signing key at {key}")
                self.key_args = ["-inkey", str(key), *password]
                self.public_key_args = ["-in", str(key), *password]
            self.origin = str(cert)
        if not certificates:
            raise Refused(f"no certificate in {self.origin}")
        self.signer_pem = work / "signer.pem"
        self.signer_pem.write_text(certificates[0], encoding="ascii")
        self.extra_pem = None
        if extra:
            self.extra_pem = work / "carried.pem"
            self.extra_pem.write_text("".join(extra), encoding="ascii")
        der = openssl("x509", "-in", str(self.signer_pem), "-outform", "DER", what=f"not a certificate: {self.origin}")
        try:
            self.certificate = Certificate(der)
        except UNREADABLE_DER:
            raise Refused(f"cannot read the certificate in {self.origin}") from None

    def check(self, installer):
        """Every reason a signed Quillon would refuse this announcement that
        can be seen here."""
        certificate = self.certificate
        public = openssl("x509", "-in", str(self.signer_pem), "-noout", "-pubkey", what="cannot read the public key")
        key_public = openssl("pkey", *self.public_key_args, "-pubout", what="cannot read the signing key")
        if public.strip() != key_public.strip():
            raise Refused(f"the signing key does not belong to the certificate {self.origin}")
        usages = certificate.extended_key_usages
        if usages is None or OID_CODE_SIGNING not in usages:
            raise Refused(f"the certificate {self.origin} is not for code signing (no code-signing extended key "
                          f"usage)")
        now = datetime.datetime.now(datetime.timezone.utc)
        if not certificate.not_before <= now <= certificate.not_after:
            raise Refused(f"the certificate {self.origin} is not valid now (valid from "
                          f"{certificate.not_before:%Y-%m-%d} to {certificate.not_after:%Y-%m-%d})")
        signer = authenticode_signer(installer)
        if signer is None:
            raise Refused(f"the installer {installer} carries no Authenticode signature; sign it before publishing")
        if signer.publisher != certificate.publisher:
            (o, cn), (signer_o, signer_cn) = certificate.publisher, signer.publisher
            raise Refused(f"the certificate's subject (O={o!r}, CN={cn!r}) differs from the installer's signer "
                          f"(O={signer_o!r}, CN={signer_cn!r})")

    def sign(self, text):
        """A detached CMS signature (DER) over text."""
        content = self.work / "announcement.txt"
        content.write_bytes(text)
        signature = self.work / "announcement.p7s"
        carried = ["-certfile", str(self.extra_pem)] if self.extra_pem else []
        openssl("cms", "-sign", "-binary", "-md", "sha256", "-nosmimecap", "-outform", "DER",
                "-signer", str(self.signer_pem), *self.key_args, *carried,
                "-in", str(content), "-out", str(signature), what="openssl could not sign the announcement")
        # The signature must be over this text: checked as a client would,
        # but for the chain, which only the client's Windows can judge.
        openssl("cms", "-verify", "-binary", "-noverify", "-inform", "DER", "-in", str(signature),
                "-content", str(content), "-out", os.devnull, what="the signature made does not verify")
        return signature.read_bytes()


def replace_atomically(directory, name, write, verify=lambda path: None):
    """Writes directory/name through a temporary file in the same directory;
    verify(path of the temporary file) may refuse before it is renamed."""
    handle, temporary = tempfile.mkstemp(dir=directory, prefix=f".{name}.", suffix=".part")
    try:
        with os.fdopen(handle, "wb") as target:
            write(target)
        verify(temporary)
        os.chmod(temporary, 0o644)
        os.replace(temporary, directory / name)
    except BaseException:
        pathlib.Path(temporary).unlink(missing_ok=True)
        raise


def publish(installer, version, server_dir, signing=None):
    """signing: None, or a dict with cert and key, or pkcs12. Gives back the
    installer's SHA-256 (hex)."""
    installer = pathlib.Path(installer)
    server_dir = pathlib.Path(server_dir)
    if not installer.is_file():
        raise FileNotFoundError(f"no installer at {installer}")
    sha256 = sha256_of(installer)
    signature = None
    if signing is not None:
        with tempfile.TemporaryDirectory(prefix="publish_update.") as work:
            identity = SigningIdentity(pathlib.Path(work), **signing)
            identity.check(installer)
            signature = identity.sign(announcement_text(version, sha256))
    server_dir.mkdir(parents=True, exist_ok=True)
    target = server_dir / INSTALLER

    def same_installer(path):
        # What goes out must be what was hashed and signed.
        if sha256_of(path) != sha256:
            raise Refused(f"{installer} changed while it was published")

    if target.exists() and target.resolve() == installer.resolve():
        same_installer(target)
    else:
        with open(installer, "rb") as source:
            replace_atomically(server_dir, INSTALLER, lambda out: shutil.copyfileobj(source, out),
                               verify=same_installer)
    try:
        replace_atomically(server_dir, VERSION_FILE,
                           lambda out: out.write(version_file_text(version, sha256, signature).encode("ascii")))
    except OSError as error:
        raise PartlyPublished(f"{INSTALLER} in {server_dir} is the new installer, but {VERSION_FILE} could not be "
                              f"written ({error}); run this again once the folder can be written") from None
    return sha256


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--installer", required=True, help="the (signed) installer to publish")
    parser.add_argument("--version", required=True, type=version_number,
                        help="its version number, the DisplayVersion it installs")
    parser.add_argument("--server-dir", required=True, help="the folder the server address names")
    parser.add_argument("--signing-cert", help="signing certificate (PEM), then any intermediates")
    parser.add_argument("--signing-key", help="its private key (PEM), or a pkcs11: URI")
    parser.add_argument("--signing-pkcs12", help=f"certificate and key in PKCS#12; password in ${PASSWORD_VARIABLE}")
    args = parser.parse_args(argv)
    signing = None
    if args.signing_pkcs12 and (args.signing_cert or args.signing_key):
        parser.error("--signing-pkcs12 holds the certificate and the key: give it alone")
    elif args.signing_cert and not args.signing_key:
        parser.error("--signing-cert needs --signing-key (or use --signing-pkcs12)")
    elif args.signing_key and not args.signing_cert:
        parser.error("--signing-key needs --signing-cert (or use --signing-pkcs12)")
    elif args.signing_pkcs12:
        signing = {"pkcs12": args.signing_pkcs12}
    elif args.signing_cert:
        signing = {"cert": args.signing_cert, "key": args.signing_key}
    try:
        sha256 = publish(args.installer, args.version, args.server_dir, signing)
    except (Refused, OSError) as error:
        print(f"publish_update: {error}; nothing was published", file=sys.stderr)
        return 1
    except PartlyPublished as error:
        print(f"publish_update: {error}", file=sys.stderr)
        return 1
    print(f"published version {args.version} in {args.server_dir}\n  {INSTALLER}\n  {VERSION_FILE}: "
          f"LatestVersion={args.version} InstallerSha256={sha256}" + (" Signature=(signed)" if signing else ""))
    return 0


if __name__ == "__main__":
    # A TERM from outside removes the temporary files, as Ctrl-C does.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    sys.exit(main())
