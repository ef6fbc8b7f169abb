#!/usr/bin/env python3
"""A whole update of the token software under Wine, told as it happens.

    update_demo.py --build-dir BUILD --prefix PREFIX --arch win64|win32 \
                   --work-dir DIR --screenshots-dir DIR

The Wine session for PREFIX must be running (scripts/demo.sh starts it with
scripts/wine-session.sh). The prefix is the demo's own: the demo installs the
product into it, trusts its own test CA there and writes the product key.

What happens:
  1. A throw-away CA stands in for the vendor's code-signing certificate.
  2. makensis builds the update installer (demo/installer/product_update.nsi,
     which uses Plugin.dll); it is signed and published with
     tools/publish_update.py into the folder nginx serves. Then the server's
     copy of the installer is damaged: one byte changed, as a botched copy to
     the server or an intruder would leave it.
  3. Debian's nginx serves that folder over HTTPS, configured as
     docs/nginx/quillon-updates.conf shows, with a certificate for 'localhost'
     from a CA of the demo's own (plain HTTP redirects to HTTPS). The
     installer goes out slowly, so that the dialog can be seen mid-way.
  4. Version 3 of the product is "installed": the signed Quillon.exe, the
     language library, the product's program TokenManager.exe and its DLL
     R7Token.dll, the lead-in texts of the installer's prompt, the product key.
     Both CAs are trusted in the demo's prefix, and nowhere else.
  5. TokenManager.exe runs and keeps R7Token.dll loaded.
  6. Quillon.exe finds version 9 and downloads the damaged installer: Quillon
     refuses it and offers Retry. The operator publishes the genuine installer
     again with tools/publish_update.py; the demo presses Retry, the genuine
     installer arrives, and Quillon checks it and starts it.
  7. The installer stops at its Retry/Cancel box while R7Token.dll is in use;
     the demo ends TokenManager.exe and presses Retry, as a user would.
  8. The installer records version 9; the registry is read back.
  9. Quillon.exe runs again and says the software is up to date.

Exit code 0 when every step happened, 1 otherwise (the failed step is named),
130 when interrupted with Ctrl-C; whatever the demo started is ended in every case.
"""
import argparse
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "standins" / "code_signing"))
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import nginx_server  # noqa: E402
import test_pki  # noqa: E402
import window_screenshot  # noqa: E402
from updater_e2e_test import Driver, parse, texts  # noqa: E402

PRODUCT_KEY = r"HKLM\Software\Orvanta\58P7M_WRZ"
VERSION_FILE = "WRZ_QVLVer.ini"
INSTALLER = "WRZ_QVL_Keyward_Install.exe"
PRODUCT_PROCESS = "TokenManager.exe"
PRODUCT_DLL = "R7Token.dll"
INSTALLED_VERSION, NEW_VERSION = 3, 9
DOWNLOAD_SECONDS = 6  # how long the installer takes to arrive, at the rate nginx is held to
IDOK, IDCANCEL, IDRETRY = 1, 2, 4

# The lead-in of the installer's prompt, langs\<id>.ini in the install folder.
# The plug-in reads the file of the system's default language.
PROMPT_LEAD_INS = {
    1033: "The Orvanta token software is being updated. Close these programs, then click Retry:",
    1031: "Die Orvanta-Token-Software wird aktualisiert. Schließen Sie diese Programme und klicken Sie "
          "dann auf Wiederholen:",
    1036: "Le logiciel du jeton Orvanta est en cours de mise à jour. Fermez ces programmes, puis cliquez "
          "sur Réessayer :",
    2052: "正在更新 Orvanta 令牌软件。请关闭以下程序，然后单击“重试”：",
}


class DemoFailed(Exception):
    pass


class Account:
    """The running account printed for the user: one line per thing that
    happened, with the time since the start."""

    def __init__(self):
        self.start = time.monotonic()
        self.step = "starting"

    def begin(self, step):
        self.step = step
        self.say(step)

    def say(self, text):
        elapsed = int(time.monotonic() - self.start)
        print(f"[{elapsed // 60}:{elapsed % 60:02d}] {text}", flush=True)

    def detail(self, text):
        print(f"       {text}", flush=True)


def windows_path(path):
    """Wine maps the Unix root to drive Z:."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def wait_until(predicate, timeout, interval=0.2):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    return predicate()


def quiet(command, timeout=120, check=True):
    done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=timeout)
    if check and done.returncode != 0:
        raise DemoFailed(f"{' '.join(map(str, command))} failed ({done.returncode}): "
                         f"{(done.stdout + done.stderr).strip()}")
    return done


class UpdateDemo:
    def __init__(self, args, account):
        self.account = account
        self.bin = pathlib.Path(args.build_dir) / "bin"
        self.prefix = pathlib.Path(args.prefix)
        self.wow64 = args.arch == "win64"
        self.work = pathlib.Path(args.work_dir)
        self.shots = pathlib.Path(args.screenshots_dir)
        program_files = "Program Files (x86)" if self.wow64 else "Program Files"
        self.install_win = f"C:\\{program_files}\\Orvanta\\Token"
        self.install_dir = self.prefix / "drive_c" / program_files / "Orvanta" / "Token"
        self.shared_dir = self.prefix / "drive_c" / "ProgramData" / "Orvanta" / "TokenShared"
        self.server = None
        self.driver = None
        self.holder = None
        self.updater = None
        self.english = texts(1033)

    # ---- the steps ----
    def run(self):
        self.make_authority()
        installer = self.build_installer()
        self.publish(installer)
        self.damage_published_installer()
        self.start_server()
        self.install_product()
        self.start_product()
        self.first_run()
        self.installer_waits()
        self.installer_finishes()
        self.check_registry()
        self.second_run()
        self.account.begin("Done: the whole update happened.")
        self.account.detail(f"Screenshots: {self.shots}")
        for shot in sorted(self.shots.glob("*.png")):
            self.account.detail(f"  {shot.name}")

    def make_authority(self):
        self.account.begin("Making a throw-away code-signing authority, the stand-in for the vendor's "
                           "certificate")
        self.pki = test_pki.TestPki(self.work / "pki").make()
        self.account.detail(f"in {self.pki.dir}; signer: Orvanta Test Vendor")

    def build_installer(self):
        self.account.begin(f"Building the update installer for version {NEW_VERSION} with makensis "
                           f"(it uses Plugin.dll)")
        out = self.work / "installer"
        out.mkdir(parents=True, exist_ok=True)
        unsigned = out / "product_update.exe"
        script = ROOT / "demo" / "installer" / "product_update.nsi"
        quiet(["makensis", "-V2", f"-DPLUGIN_DIR={self.bin}", f"-DOUT_FILE={unsigned}",
               f"-DNEW_VERSION={NEW_VERSION}", f"-DPRODUCT_DLL={PRODUCT_DLL}",
               f"-DPRODUCT_PROCESS={PRODUCT_PROCESS}", str(script)])
        signed = self.pki.sign("vendor", unsigned, out / "product_update-signed.exe")
        self.account.detail(f"{script.relative_to(ROOT)} -> {signed} ({signed.stat().st_size} bytes), "
                            f"signed as Orvanta Test Vendor")
        return signed

    def publish(self, installer):
        self.installer = installer
        self.served = self.work / "server"
        shutil.rmtree(self.served, ignore_errors=True)
        self.account.begin("Publishing it with the operators' script tools/publish_update.py into the folder "
                           "nginx serves")
        self.run_publish_script()

    def run_publish_script(self):
        done = quiet([sys.executable, str(ROOT / "tools" / "publish_update.py"), "--installer", str(self.installer),
                      "--version", str(NEW_VERSION), "--server-dir", str(self.served)])
        for line in done.stdout.splitlines():
            self.account.detail(line.strip())

    def damage_published_installer(self):
        self.account.begin("Damaging the server's copy of the installer: one byte changed, as a botched copy to "
                           "the server or an intruder would leave it")
        published = self.served / INSTALLER
        damaged = bytearray(published.read_bytes())
        damaged[len(damaged) // 2] ^= 0xFF
        published.write_bytes(bytes(damaged))
        self.account.detail(f"{VERSION_FILE} still names the SHA-256 of the genuine installer")

    def start_server(self):
        size = (self.served / INSTALLER).stat().st_size
        # Demo only: the installer is sent at a slow rate so that the dialog
        # can be seen mid-download; the version file goes at full speed.
        paced = (f"    location = /{INSTALLER} {{\n        limit_rate {max(1024, size // DOWNLOAD_SECONDS)};\n"
                 f"        try_files $uri =404;\n    }}\n")
        self.server = nginx_server.NginxServer(self.served, self.work / "nginx", https_extra=paced).start()
        self.base_url = self.server.https_url
        self.account.begin(f"Starting Debian's nginx as the update server: {self.base_url}")
        self.account.detail("configured as docs/nginx/quillon-updates.conf shows; its certificate for 'localhost' "
                            "comes from a CA of the demo's own")
        self.account.detail(f"plain HTTP at {self.server.http_url} redirects there; the installer is sent "
                            f"slowly, over about {DOWNLOAD_SECONDS} s")

    def install_product(self):
        self.account.begin(f"Installing version {INSTALLED_VERSION} of the token software in {self.install_win}")
        shutil.rmtree(self.install_dir, ignore_errors=True)
        shutil.rmtree(self.shared_dir, ignore_errors=True)
        self.install_dir.mkdir(parents=True)
        self.pki.sign("vendor", self.bin / "Quillon.exe", self.install_dir / "Quillon.exe")
        shutil.copy(self.bin / "R7Glossa_WRZ.dll", self.install_dir)
        # The product's own program and DLL: a program that keeps DLLs loaded
        # until told to stop, and a DLL that does nothing.
        shutil.copy(self.bin / "DllHolder.exe", self.install_dir / PRODUCT_PROCESS)
        shutil.copy(self.bin / "HeldModule.dll", self.install_dir / PRODUCT_DLL)
        self.account.detail(f"Quillon.exe (signed as Orvanta Test Vendor), R7Glossa_WRZ.dll (the stand-in "
                            f"language library), {PRODUCT_PROCESS}, {PRODUCT_DLL}")

        self.system_language = self.system_language_id()
        langs = self.install_dir / "langs"
        langs.mkdir()
        for language in sorted(set(PROMPT_LEAD_INS) | {self.system_language}):
            lead_in = PROMPT_LEAD_INS.get(language, PROMPT_LEAD_INS[1033])
            (langs / f"{language}.ini").write_text(f"[TEXT]\r\nUPDATE_INSTALL_TITLE={lead_in}\r\n",
                                                   encoding="utf-16")
        self.account.detail(f"langs\\<id>.ini with the installer prompt's lead-in; this Windows' "
                            f"default language is {self.system_language}")

        view = "32-bit registry view (Wow6432Node)" if self.wow64 else "registry"
        self.account.detail(f"{PRODUCT_KEY} in the {view}, where the 32-bit updater reads it:")
        reg(self.wow64, "delete", PRODUCT_KEY, "/f", check=False)
        values = [("DisplayVersion", "REG_DWORD", str(INSTALLED_VERSION)),
                  ("SoftServerUrl", "REG_SZ", self.base_url),
                  ("SoftServerUrl_X64", "REG_SZ", self.base_url),
                  ("InstallPath", "REG_SZ", self.install_win),
                  ("LangId", "REG_DWORD", "1033"),
                  ("LegacyChannel", "REG_SZ", "stable")]  # version 9 removes it
        for name, kind, data in values:
            reg(self.wow64, "add", PRODUCT_KEY, "/v", name, "/t", kind, "/d", data, "/f")
            self.account.detail(f"  {name} = {data}")

        self.account.detail("Trusting the code-signing authority's root and the web server's CA inside this "
                            "Wine prefix only")
        done = quiet(["wine", str(self.bin / "trust_root.exe"), "add", windows_path(self.pki.ca_der)], check=False)
        if done.stdout.strip() != "ok":
            raise DemoFailed(f"trust_root.exe could not trust the test root: {done.stdout}{done.stderr}")
        try:
            nginx_server.trust_ca_in_prefix(self.server.ca_certificate, self.bin)
        except AssertionError as failure:
            raise DemoFailed(f"could not trust the web server's CA: {failure}") from None

    def system_language_id(self):
        done = quiet(["wine", "reg", "query", r"HKLM\System\CurrentControlSet\Control\Nls\Language",
                      "/v", "Default"], check=False)
        for line in done.stdout.splitlines():
            fields = line.split()
            if len(fields) == 3 and fields[0] == "Default":
                return int(fields[2], 16)
        return 1033

    def start_product(self):
        self.account.begin(f"Starting {PRODUCT_PROCESS}, the product's program: it keeps {PRODUCT_DLL} loaded")
        self.holder_ready = self.work / "product.ready"
        for stale in (self.holder_ready, pathlib.Path(f"{self.holder_ready}.stop")):
            stale.unlink(missing_ok=True)
        # It ends by itself after five minutes, should the demo be killed.
        self.holder = subprocess.Popen(
            ["wine", str(self.install_dir / PRODUCT_PROCESS), windows_path(self.holder_ready), "300000",
             f"{self.install_win}\\{PRODUCT_DLL}"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_until(self.holder_ready.exists, 60):
            raise DemoFailed(f"{PRODUCT_PROCESS} did not start and load {PRODUCT_DLL} within 60 s")

    def first_run(self):
        self.account.begin(f"Running Quillon.exe from {self.install_win}")
        self.driver = Driver(self.bin / "window_driver.exe")
        self.updater = self.start_updater()
        if self.driver("dialog 60000", timeout=70) != "ok":
            raise DemoFailed("Quillon's dialog did not appear within 60 s")
        self.expect_request(VERSION_FILE)
        self.account.say(f"Quillon asked the server for {VERSION_FILE}")
        self.expect_request(INSTALLER)
        self.account.say(f"Quillon found version {NEW_VERSION} on the server (installed: {INSTALLED_VERSION}) "
                         f"and downloaded the installer over HTTPS")
        self.damaged_copy_refused()
        state = wait_until(self.dialog_mid_download, DOWNLOAD_SECONDS + 30, interval=0.2)
        if not state:
            raise DemoFailed("the update dialog was not seen while the installer was on its way")
        shot = self.screenshot("downloading")
        self.account.detail(f"dialog: \"{state['caption']}\", status \"{state['status']}\", bar at "
                            f"{state['progress']} % -> {shot}")

        # Quillon checks the installer, hands it to the shell and ends; a
        # refused installer leaves it in its "download failed" box instead.
        # The installer's own box may show before Quillon's process is gone.
        def ended_or_box():
            if self.updater.poll() is not None:
                return {"caption": "ended"}
            reply = self.driver("msgbox 0")
            found = parse(reply) if reply != "timeout" else {}
            return found if found.get("caption") in (self.english["Quillon"], "WRZ") else None
        outcome = wait_until(ended_or_box, 60, interval=0.5)
        if not outcome:
            raise DemoFailed("Quillon neither started the installer nor reported a failure within 60 s")
        if outcome["caption"] == self.english["Quillon"]:
            raise DemoFailed(f"Quillon did not start the installer; its box says: \"{outcome.get('text')}\"")
        try:
            self.updater.wait(timeout=30)
        except subprocess.TimeoutExpired:
            raise DemoFailed("Quillon started the installer but did not end") from None
        self.account.say("Quillon checked the installer (signed by the same publisher as Quillon itself, "
                         "SHA-256 as published), started it, and ended")

    def damaged_copy_refused(self):
        """The first copy of the installer is the server's damaged one:
        Quillon must refuse it, start nothing, and offer Retry."""
        box = self.wait_for_box(self.english["Quillon"], 60)
        if not box or box.get("text") != self.english["DownloadFail"]:
            raise DemoFailed(f"Quillon did not refuse the damaged installer (box: {box})")
        if (self.install_dir / "update.log").exists():
            raise DemoFailed("the damaged installer ran")
        shot = self.screenshot("tampered-refused")
        self.account.say("That copy was the damaged one. Quillon checked it: its signature no longer verifies, "
                         "and its SHA-256 does not match InstallerSha256 of the version file")
        self.account.detail(f"so Quillon deleted it, started nothing, and says: \"{box['text']}\" -> {shot}")
        self.account.say("The operator notices and publishes the genuine installer again with "
                         "tools/publish_update.py")
        self.run_publish_script()
        self.account.say("Pressing Retry, as the user would")
        if self.driver(f"press {IDRETRY}") != "ok":
            raise DemoFailed("could not press Retry in Quillon's box")

    def installer_waits(self):
        self.account.begin("The installer runs silently, and first asks Plugin::GetDllOwnerProcName whether "
                           f"anybody uses {PRODUCT_DLL}")
        box = self.wait_for_box("WRZ", 90)
        if box is None:
            raise DemoFailed(f"the installer's Retry/Cancel box did not appear while {PRODUCT_PROCESS} held "
                             f"{PRODUCT_DLL}")
        message = box["text"].split("\\n")
        owners = [line for line in message[1:] if line]
        expected_lead_in = PROMPT_LEAD_INS.get(self.system_language, PROMPT_LEAD_INS[1033])
        if not any(PRODUCT_PROCESS.lower() in owner.lower() for owner in owners):
            raise DemoFailed(f"the installer's box does not name {PRODUCT_PROCESS}: {box['text']}")
        if message[0] != expected_lead_in:
            raise DemoFailed(f"the box's lead-in is not the text of langs\\{self.system_language}.ini: "
                             f"{message[0]!r}")
        self.account.say(f"The installer is waiting: {PRODUCT_PROCESS} still uses {PRODUCT_DLL}")
        self.account.detail(f"its box \"WRZ\" says: {message[0]}")
        for owner in owners:
            self.account.detail(f"  {owner}")
        self.account.detail(f"-> {self.screenshot('installer-waiting')}")
        log = self.read_install_log()
        if log.get("running_before") != "1":
            raise DemoFailed(f"Plugin::FindProc did not see {PRODUCT_PROCESS} running: {log}")
        self.account.detail(f"Plugin::FindProc \"{PRODUCT_PROCESS}\" answered 1: it runs")

        self.account.say(f"Closing {PRODUCT_PROCESS}, as the user would, then pressing Retry")
        pathlib.Path(f"{self.holder_ready}.stop").touch()
        try:
            self.holder.wait(timeout=30)
        except subprocess.TimeoutExpired:
            raise DemoFailed(f"{PRODUCT_PROCESS} did not end within 30 s") from None
        if self.driver(f"press {IDRETRY}") != "ok":
            raise DemoFailed("could not press Retry on the installer's box")

    def installer_finishes(self):
        log = wait_until(lambda: self.read_install_log() if "finished" in self.read_install_log() else None, 60)
        if not log:
            raise DemoFailed(f"the installer did not finish within 60 s after Retry: {self.read_install_log()}")
        if log["finished"] != str(NEW_VERSION):
            raise DemoFailed(f"the installer stopped early: {log}")
        if self.wait_for_box("WRZ", 0) is not None:
            raise DemoFailed("the installer's box is still open")
        self.account.say(f"The installer went on and finished (its log: {self.install_win}\\update.log)")
        self.account.detail(f"Plugin::FindProc after the wait: {log['running_after']} (no longer runs)")
        self.account.detail(f"Plugin::GetSysVersion: {log['windows']}; Plugin::IsSupport64: "
                            f"{log['windows_64bit']}")
        self.account.detail(f"Plugin::DeleteRegValue of the old LegacyChannel value: {log['legacy_value_deleted']}")
        self.account.detail(f"Plugin::RWCreate DIR {log['shared_dir']}: {log['shared_dir_created']}")
        expected = {"running_after": "0", "windows_64bit": "1" if self.wow64 else "0",
                    "legacy_value_deleted": "1", "shared_dir_created": "1"}
        wrong = {key: log.get(key) for key, value in expected.items() if log.get(key) != value}
        if wrong:
            raise DemoFailed(f"the installer's log shows {wrong}, expected {expected}")
        if not self.shared_dir.is_dir():
            raise DemoFailed(f"the shared directory {self.shared_dir} is missing")

    def check_registry(self):
        self.account.begin("Reading the product key back with wine reg query")
        version = reg_value(self.wow64, PRODUCT_KEY, "DisplayVersion")
        if version != f"0x{NEW_VERSION:x}":
            raise DemoFailed(f"DisplayVersion is {version}, not {NEW_VERSION}")
        self.account.say(f"Registry now holds DisplayVersion={int(version, 16)}")
        if reg_value(self.wow64, PRODUCT_KEY, "LegacyChannel") is not None:
            raise DemoFailed("LegacyChannel is still there")
        self.account.detail("LegacyChannel is gone")
        if self.wow64:
            in_64bit_view = quiet(["wine", "reg", "query", PRODUCT_KEY, "/v", "InstallPath", "/reg:64"],
                                  check=False)
            if self.install_win not in in_64bit_view.stdout:
                raise DemoFailed(f"InstallPath was not written to the 64-bit view: {in_64bit_view.stdout}")
            self.account.detail("InstallPath is in both registry views (Plugin::WriteRegStr /x86 /x64)")

    def second_run(self):
        self.account.begin("Running Quillon.exe a second time")
        requests_before = len(self.server_requests())
        self.updater = self.start_updater()
        box = self.wait_for_box(self.english["Quillon"], 90)
        if box is None:
            raise DemoFailed("Quillon showed no message box on its second run")
        shot = self.screenshot("up-to-date")
        self.account.say(f"Second run: Quillon says: {box['text']}")
        self.account.detail(f"-> {shot}")
        if box["text"] != self.english["SoftLatest"]:
            raise DemoFailed(f"expected \"{self.english['SoftLatest']}\"")
        self.driver(f"press {IDOK}")
        try:
            self.updater.wait(timeout=30)
        except subprocess.TimeoutExpired:
            raise DemoFailed("Quillon did not end after OK") from None
        asked = self.server_requests()[requests_before:]
        if asked != [f"/{VERSION_FILE}"]:
            raise DemoFailed(f"the second run asked the server for {asked}, expected the version file alone")
        self.account.detail(f"pressed OK; Quillon ended, having fetched only {VERSION_FILE}")

    # ---- helpers ----
    def start_updater(self):
        # No pipes: the installer it starts would inherit them.
        return subprocess.Popen(["wine", str(self.install_dir / "Quillon.exe")], cwd=self.work,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def server_requests(self):
        """The paths nginx has answered so far, in order (it logs a request
        once it has been answered)."""
        return [path for path, _ in self.server.requests()]

    def expect_request(self, name):
        if not wait_until(lambda: f"/{name}" in self.server_requests(), 60):
            raise DemoFailed(f"Quillon did not fetch {name} from the server within 60 s "
                             f"(fetched: {self.server.requests()})")

    def dialog_mid_download(self):
        """The dialog's state once its bar is well on its way, and not yet near
        its end."""
        state = parse(self.driver("state"))
        return state if state.get("progress", "0").isdigit() and 10 <= int(state["progress"]) <= 90 else None

    def wait_for_box(self, caption, seconds):
        """The message box with this caption, polled until it shows or the
        time is up; None if it never did."""
        def box():
            reply = self.driver("msgbox 0")
            found = parse(reply) if reply != "timeout" else {}
            return found if found.get("caption") == caption else None
        return wait_until(box, seconds, interval=0.3)

    def read_install_log(self):
        try:
            text = (self.install_dir / "update.log").read_text(encoding="utf-16")
        except (OSError, UnicodeError):
            return {}
        return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)

    def screenshot(self, name):
        target = window_screenshot.take(self.driver, self.shots / f"{name}.png")
        if target is None:
            raise DemoFailed(f"could not take the screenshot {name}.png: no window shown")
        return target

    def close(self):
        """Ends what the demo started, whatever state it is in."""
        if self.driver:
            try:
                self.driver("kill-updaters", timeout=10)
                # An installer still waiting in its box is cancelled.
                if self.wait_for_box("WRZ", 0):
                    self.driver(f"press {IDCANCEL}", timeout=10)
            except (AssertionError, OSError):
                pass
            self.driver.close()
        if self.holder and self.holder.poll() is None:
            pathlib.Path(f"{self.holder_ready}.stop").touch()
        for process in (self.holder, self.updater):
            if process and process.poll() is None:
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
        if self.server:
            self.server.stop()


def reg(wow64, action, key, *args, check=True):
    """wine reg on the view the 32-bit updater sees."""
    view = ["/reg:32"] if wow64 else []
    return quiet(["wine", "reg", action, key, *args, *view], check=check)


def reg_value(wow64, key, name):
    """The value's data as reg prints it (DWORDs as 0x..), or None."""
    done = reg(wow64, "query", key, "/v", name, check=False)
    for line in done.stdout.splitlines():
        fields = line.split(None, 2)
        if len(fields) == 3 and fields[0] == name:
            return fields[2].strip()
    return None


_interrupted = False


def _on_interrupt(*_):
    global _interrupted
    _interrupted = True
    raise KeyboardInterrupt


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--arch", choices=("win64", "win32"), required=True)
    parser.add_argument("--work-dir", required=True)
    parser.add_argument("--screenshots-dir", required=True)
    args = parser.parse_args()
    os.environ["WINEPREFIX"] = str(pathlib.Path(args.prefix).resolve())
    os.environ.setdefault("WINEDEBUG", "-all")
    # A TERM from outside ends the demo through the same clean-up as Ctrl-C.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    signal.signal(signal.SIGINT, _on_interrupt)

    account = Account()
    demo = UpdateDemo(args, account)
    try:
        try:
            demo.run()
            return 0
        except (DemoFailed, AssertionError, subprocess.TimeoutExpired) as failure:
            # Ctrl-C reaches the programs the demo runs as well, and one of
            # them may fail from it first: that is an interruption, not a
            # failed step.
            if _interrupted:
                raise KeyboardInterrupt from failure
            print(f"\nDEMO FAILED at \"{account.step}\":\n  {failure}", file=sys.stderr, flush=True)
            return 1
    except KeyboardInterrupt:
        print(f"\nDemo interrupted at \"{account.step}\"; everything it started is being ended",
              file=sys.stderr, flush=True)
        return 130
    finally:
        demo.close()

if __name__ == "__main__":
    sys.exit(main())
