"""The demo's Wine prefix and its update server: Debian's nginx serving the
published folder over HTTPS, version 3 of the token software installed in
the prefix with both CAs trusted there, the product's program holding its
DLL, and the product key read back once the update has run."""
import pathlib
import shutil
import subprocess

import nginx_server
from steps.common import (DOWNLOAD_SECONDS, INSTALLED_VERSION, INSTALLER, NEW_VERSION, PRODUCT_DLL,
                          PRODUCT_KEY, PRODUCT_PROCESS, PROMPT_LEAD_INS, DemoFailed, quiet, reg, reg_value,
                          wait_until, windows_path)


def start_server(demo):
    size = (demo.served / INSTALLER).stat().st_size
    # Demo only: the installer is sent at a slow rate so that the dialog
    # can be seen mid-download; the version file goes at full speed.
    paced = (f"    location = /{INSTALLER} {{\n        limit_rate {max(1024, size // DOWNLOAD_SECONDS)};\n"
             f"        try_files $uri =404;\n    }}\n")
    demo.server = nginx_server.NginxServer(demo.served, demo.work / "nginx", https_extra=paced).start()
    demo.base_url = demo.server.https_url
    demo.account.begin(f"Starting Debian's nginx as the update server: {demo.base_url}")
    demo.account.detail("configured as docs/nginx/quillon-updates.conf shows; its certificate for 'localhost' "
                        "comes from a CA of the demo's own")
    demo.account.detail(f"plain HTTP at {demo.server.http_url} redirects there; the installer is sent "
                        f"slowly, over about {DOWNLOAD_SECONDS} s")


def install_product(demo):
    demo.account.begin(f"Installing version {INSTALLED_VERSION} of the token software in {demo.install_win}")
    shutil.rmtree(demo.install_dir, ignore_errors=True)
    shutil.rmtree(demo.shared_dir, ignore_errors=True)
    demo.install_dir.mkdir(parents=True)
    demo.pki.sign("vendor", demo.bin / "Quillon.exe", demo.install_dir / "Quillon.exe")
    shutil.copy(demo.bin / "R7Glossa_WRZ.dll", demo.install_dir)
    # The product's own program and DLL: a program that keeps DLLs loaded
    # until told to stop, and a DLL that does nothing.
    shutil.copy(demo.bin / "DllHolder.exe", demo.install_dir / PRODUCT_PROCESS)
    shutil.copy(demo.bin / "HeldModule.dll", demo.install_dir / PRODUCT_DLL)
    demo.account.detail(f"Quillon.exe (signed as Orvanta Test Vendor), R7Glossa_WRZ.dll (the stand-in "
                        f"language library), {PRODUCT_PROCESS}, {PRODUCT_DLL}")

    demo.system_language = system_language_id()
    langs = demo.install_dir / "langs"
    langs.mkdir()
    for language in sorted(set(PROMPT_LEAD_INS) | {demo.system_language}):
        lead_in = PROMPT_LEAD_INS.get(language, PROMPT_LEAD_INS[1033])
        (langs / f"{language}.ini").write_text(f"[TEXT]\r\nUPDATE_INSTALL_TITLE={lead_in}\r\n",
                                               encoding="utf-16")
    demo.account.detail(f"langs\\<id>.ini with the installer prompt's lead-in; this Windows' "
                        f"default language is {demo.system_language}")

    view = "32-bit registry view (Wow6432Node)" if demo.wow64 else "registry"
    demo.account.detail(f"{PRODUCT_KEY} in the {view}, where the 32-bit updater reads it:")
    reg(demo.wow64, "delete", PRODUCT_KEY, "/f", check=False)
    values = [("DisplayVersion", "REG_DWORD", str(INSTALLED_VERSION)),
              ("SoftServerUrl", "REG_SZ", demo.base_url),
              ("SoftServerUrl_X64", "REG_SZ", demo.base_url),
              ("InstallPath", "REG_SZ", demo.install_win),
              ("LangId", "REG_DWORD", "1033"),
              ("LegacyChannel", "REG_SZ", "stable")]  # version 9 removes it
    for name, kind, data in values:
        reg(demo.wow64, "add", PRODUCT_KEY, "/v", name, "/t", kind, "/d", data, "/f")
        demo.account.detail(f"  {name} = {data}")

    demo.account.detail("Trusting the code-signing authority's root and the web server's CA inside this "
                        "Wine prefix only")
    done = quiet(["wine", str(demo.bin / "trust_root.exe"), "add", windows_path(demo.pki.ca_der)], check=False)
    if done.stdout.strip() != "ok":
        raise DemoFailed(f"trust_root.exe could not trust the test root: {done.stdout}{done.stderr}")
    try:
        nginx_server.trust_ca_in_prefix(demo.server.ca_certificate, demo.bin)
    except AssertionError as failure:
        raise DemoFailed(f"could not trust the web server's CA: {failure}") from None


def system_language_id():
    done = quiet(["wine", "reg", "query", r"HKLM\System\CurrentControlSet\Control\Nls\Language",
                  "/v", "Default"], check=False)
    for line in done.stdout.splitlines():
        fields = line.split()
        if len(fields) == 3 and fields[0] == "Default":
            return int(fields[2], 16)
    return 1033


def start_product(demo):
    demo.account.begin(f"Starting {PRODUCT_PROCESS}, the product's program: it keeps {PRODUCT_DLL} loaded")
    demo.holder_ready = demo.work / "product.ready"
    for stale in (demo.holder_ready, pathlib.Path(f"{demo.holder_ready}.stop")):
        stale.unlink(missing_ok=True)
    # It ends by itself after five minutes, should the demo be killed.
    demo.holder = subprocess.Popen(
        ["wine", str(demo.install_dir / PRODUCT_PROCESS), windows_path(demo.holder_ready), "300000",
         f"{demo.install_win}\\{PRODUCT_DLL}"],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not wait_until(demo.holder_ready.exists, 60):
        raise DemoFailed(f"{PRODUCT_PROCESS} did not start and load {PRODUCT_DLL} within 60 s")


def check_registry(demo):
    demo.account.begin("Reading the product key back with wine reg query")
    version = reg_value(demo.wow64, PRODUCT_KEY, "DisplayVersion")
    if version != f"0x{NEW_VERSION:x}":
        raise DemoFailed(f"DisplayVersion is {version}, not {NEW_VERSION}")
    demo.account.say(f"Registry now holds DisplayVersion={int(version, 16)}")
    if reg_value(demo.wow64, PRODUCT_KEY, "LegacyChannel") is not None:
        raise DemoFailed("LegacyChannel is still there")
    demo.account.detail("LegacyChannel is gone")
    if demo.wow64:
        in_64bit_view = quiet(["wine", "reg", "query", PRODUCT_KEY, "/v", "InstallPath", "/reg:64"],
                              check=False)
        if demo.install_win not in in_64bit_view.stdout:
            raise DemoFailed(f"InstallPath was not written to the 64-bit view: {in_64bit_view.stdout}")
        demo.account.detail("InstallPath is in both registry views (Plugin::WriteRegStr /x86 /x64)")


def end_product_and_server(demo):
    """Ends TokenManager.exe and nginx, whatever state they are in."""
    if demo.holder and demo.holder.poll() is None:
        pathlib.Path(f"{demo.holder_ready}.stop").touch()
        try:
            demo.holder.wait(timeout=10)
        except subprocess.TimeoutExpired:
            demo.holder.kill()
    if demo.server:
        demo.server.stop()
