"""What the vendor and the server operator do: a code-signing authority of
the demo's own, the signed update installer built with makensis, published
with tools/publish_update.py with a signed announcement, and the server's
copy damaged on the way; and what an attacker who controls the server but not
the vendor's key does to the announcement."""
import hashlib
import shutil
import sys

import test_pki
from steps.common import (ATTACKER_VERSION, INSTALLER, NEW_VERSION, PRODUCT_DLL, PRODUCT_PROCESS, ROOT,
                          VERSION_FILE, quiet)


def make_authority(demo):
    demo.account.begin("Making a throw-away code-signing authority, the stand-in for the vendor's "
                       "certificate")
    demo.pki = test_pki.TestPki(demo.work / "pki").make()
    demo.account.detail(f"in {demo.pki.dir}; signer: Orvanta Test Vendor")


def build_installer(demo):
    demo.account.begin(f"Building the update installer for version {NEW_VERSION} with makensis "
                       f"(it uses Plugin.dll)")
    out = demo.work / "installer"
    out.mkdir(parents=True, exist_ok=True)
    unsigned = out / "product_update.exe"
    script = ROOT / "demo" / "installer" / "product_update.nsi"
    quiet(["makensis", "-V2", f"-DPLUGIN_DIR={demo.bin}", f"-DOUT_FILE={unsigned}",
           f"-DNEW_VERSION={NEW_VERSION}", f"-DPRODUCT_DLL={PRODUCT_DLL}",
           f"-DPRODUCT_PROCESS={PRODUCT_PROCESS}", str(script)])
    demo.installer = demo.pki.sign("vendor", unsigned, out / "product_update-signed.exe")
    demo.account.detail(f"{script.relative_to(ROOT)} -> {demo.installer} ({demo.installer.stat().st_size} bytes), "
                        f"signed as Orvanta Test Vendor")


def publish(demo):
    demo.served = demo.work / "server"
    shutil.rmtree(demo.served, ignore_errors=True)
    demo.account.begin("Publishing it with the operators' script tools/publish_update.py into the folder "
                       "nginx serves")
    run_publish_script(demo)


def run_publish_script(demo):
    """Publishes the genuine installer as the operator does, also again later,
    with the announcement signed by the vendor's certificate."""
    done = quiet([sys.executable, str(ROOT / "tools" / "publish_update.py"), "--installer", str(demo.installer),
                  "--version", str(NEW_VERSION), "--server-dir", str(demo.served),
                  "--signing-cert", str(demo.pki.dir / "vendor.pem"),
                  "--signing-key", str(demo.pki.dir / "vendor.key")])
    for line in done.stdout.splitlines():
        demo.account.detail(line.strip())


def damage_published_installer(demo):
    demo.account.begin("Damaging the server's copy of the installer: one byte changed, as a botched copy to "
                       "the server or an intruder would leave it")
    published = demo.served / INSTALLER
    damaged = bytearray(published.read_bytes())
    damaged[len(damaged) // 2] ^= 0xFF
    published.write_bytes(bytes(damaged))
    demo.account.detail(f"{VERSION_FILE} still names the SHA-256 of the genuine installer")


def edit_announcement_as_an_attacker(demo):
    """The attacker's version file: a higher version and the SHA-256 of a
    file of the attacker's own, under the vendor's signature, which they
    cannot make anew. Gives back the genuine version file's bytes."""
    path = demo.served / VERSION_FILE
    genuine = path.read_bytes()
    own = hashlib.sha256(b"the attacker's installer").hexdigest()
    edited = []
    for line in genuine.decode("ascii").split("\r\n"):
        if line.startswith("LatestVersion="):
            line = f"LatestVersion={ATTACKER_VERSION}"
        elif line.startswith("InstallerSha256="):
            line = f"InstallerSha256={own}"
        edited.append(line)
    path.write_bytes("\r\n".join(edited).encode("ascii"))
    demo.account.detail(f"{VERSION_FILE} now says LatestVersion={ATTACKER_VERSION} and InstallerSha256={own[:16]}..., "
                        f"under the vendor's Signature as it was")
    return genuine
