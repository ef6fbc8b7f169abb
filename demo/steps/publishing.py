"""What the vendor and the server operator do: a code-signing authority of
the demo's own, the signed update installer built with makensis, published
with tools/publish_update.py, and the server's copy damaged on the way."""
import shutil
import sys

import test_pki
from steps.common import (INSTALLER, NEW_VERSION, PRODUCT_DLL, PRODUCT_PROCESS, ROOT, VERSION_FILE, quiet)


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
    """Publishes the genuine installer as the operator does, also again later."""
    done = quiet([sys.executable, str(ROOT / "tools" / "publish_update.py"), "--installer", str(demo.installer),
                  "--version", str(NEW_VERSION), "--server-dir", str(demo.served)])
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
