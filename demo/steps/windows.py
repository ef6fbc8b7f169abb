"""The windows the user sees: Quillon's dialog and boxes, and the
installer's Retry/Cancel box, watched and answered from outside with
window_driver.exe, with a screenshot of each."""
import pathlib
import subprocess

import window_screenshot
from steps.common import (ATTACKER_VERSION, DOWNLOAD_SECONDS, IDCANCEL, IDOK, IDRETRY, INSTALLED_VERSION, INSTALLER,
                          NEW_VERSION, PRODUCT_DLL, PRODUCT_PROCESS, PROMPT_LEAD_INS, VERSION_FILE, DemoFailed,
                          wait_until)
from steps.publishing import edit_announcement_as_an_attacker, run_publish_script
from updater_e2e_test import Driver, parse


def edited_announcement_refused(demo):
    demo.account.begin("An attacker who controls the server, but not the vendor's key, edits the announcement")
    genuine = edit_announcement_as_an_attacker(demo)
    start_driver(demo)
    demo.account.say(f"Running Quillon.exe from {demo.install_win}")
    demo.updater = start_updater(demo)
    box = wait_for_box(demo, demo.english["Quillon"], 90)
    if not box or box.get("text") != demo.english["VerifyFail"]:
        raise DemoFailed(f"Quillon did not refuse the edited announcement (box: {box})")
    if server_requests(demo) != [f"/{VERSION_FILE}"]:
        raise DemoFailed(f"Quillon fetched more than the edited announcement: {server_requests(demo)}")
    shot = screenshot(demo, "announcement-refused")
    demo.account.say(f"Quillon refused the edited announcement: the vendor's signature does not cover "
                     f"LatestVersion={ATTACKER_VERSION} and the attacker's SHA-256")
    demo.account.detail(f"it fetched nothing more, started nothing, and says: \"{box['text']}\" -> {shot}")
    demo.account.say("The user presses Cancel; the operator puts the genuine announcement back")
    if demo.driver(f"press {IDCANCEL}") != "ok":
        raise DemoFailed("could not press Cancel in Quillon's box")
    wait_for_end(demo.updater, "Quillon did not end after Cancel")
    (demo.served / VERSION_FILE).write_bytes(genuine)


def first_run(demo):
    demo.account.begin(f"Running Quillon.exe from {demo.install_win}")
    start_driver(demo)
    requests_before = len(server_requests(demo))
    demo.updater = start_updater(demo)
    if demo.driver("dialog 60000", timeout=70) != "ok":
        raise DemoFailed("Quillon's dialog did not appear within 60 s")
    expect_request(demo, VERSION_FILE, requests_before)
    demo.account.say(f"Quillon asked the server for {VERSION_FILE}")
    expect_request(demo, INSTALLER, requests_before)
    demo.account.say(f"Quillon found version {NEW_VERSION} on the server (installed: {INSTALLED_VERSION}), "
                     f"checked the vendor's signature over it, and downloaded the installer over HTTPS")
    damaged_copy_refused(demo)
    state = wait_until(lambda: dialog_mid_download(demo), DOWNLOAD_SECONDS + 30, interval=0.2)
    if not state:
        raise DemoFailed("the update dialog was not seen while the installer was on its way")
    shot = screenshot(demo, "downloading")
    demo.account.detail(f"dialog: \"{state['caption']}\", status \"{state['status']}\", bar at "
                        f"{state['progress']} % -> {shot}")

    # Quillon checks the installer, hands it to the shell and ends; a
    # refused installer leaves it in its "update refused" box instead.
    # The installer's own box may show before Quillon's process is gone.
    def ended_or_box():
        if demo.updater.poll() is not None:
            return {"caption": "ended"}
        return shown_box(demo, (demo.english["Quillon"], "WRZ"))
    outcome = wait_until(ended_or_box, 60, interval=0.5)
    if not outcome:
        raise DemoFailed("Quillon neither started the installer nor reported a failure within 60 s")
    if outcome["caption"] == demo.english["Quillon"]:
        raise DemoFailed(f"Quillon did not start the installer; its box says: \"{outcome.get('text')}\"")
    wait_for_end(demo.updater, "Quillon started the installer but did not end")
    demo.account.say("Quillon checked the installer (signed by the same publisher as Quillon itself, "
                     "SHA-256 as published), started it, and ended")


def damaged_copy_refused(demo):
    """The first copy of the installer is the server's damaged one: Quillon
    must refuse it, start nothing, and offer Retry."""
    box = wait_for_box(demo, demo.english["Quillon"], 60)
    if not box or box.get("text") != demo.english["VerifyFail"]:
        raise DemoFailed(f"Quillon did not refuse the damaged installer (box: {box})")
    if (demo.install_dir / "update.log").exists():
        raise DemoFailed("the damaged installer ran")
    shot = screenshot(demo, "tampered-refused")
    demo.account.say("That copy was the damaged one. Quillon checked it: its signature no longer verifies, "
                     "and its SHA-256 does not match InstallerSha256 of the version file")
    demo.account.detail(f"so Quillon deleted it, started nothing, and says: \"{box['text']}\" -> {shot}")
    demo.account.say("The operator notices and publishes the genuine installer again with "
                     "tools/publish_update.py")
    run_publish_script(demo)
    demo.account.say("Pressing Retry, as the user would")
    if demo.driver(f"press {IDRETRY}") != "ok":
        raise DemoFailed("could not press Retry in Quillon's box")


def installer_waits(demo):
    demo.account.begin("The installer runs silently, and first asks Plugin::GetDllOwnerProcName whether "
                       f"anybody uses {PRODUCT_DLL}")
    box = wait_for_box(demo, "WRZ", 90)
    if box is None:
        raise DemoFailed(f"the installer's Retry/Cancel box did not appear while {PRODUCT_PROCESS} held "
                         f"{PRODUCT_DLL}")
    message = box["text"].split("\\n")
    owners = [line for line in message[1:] if line]
    expected_lead_in = PROMPT_LEAD_INS.get(demo.system_language, PROMPT_LEAD_INS[1033])
    if not any(PRODUCT_PROCESS.lower() in owner.lower() for owner in owners):
        raise DemoFailed(f"the installer's box does not name {PRODUCT_PROCESS}: {box['text']}")
    if message[0] != expected_lead_in:
        raise DemoFailed(f"the box's lead-in is not the text of langs\\{demo.system_language}.ini: "
                         f"{message[0]!r}")
    demo.account.say(f"The installer is waiting: {PRODUCT_PROCESS} still uses {PRODUCT_DLL}")
    demo.account.detail(f"its box \"WRZ\" says: {message[0]}")
    for owner in owners:
        demo.account.detail(f"  {owner}")
    demo.account.detail(f"-> {screenshot(demo, 'installer-waiting')}")
    log = demo.read_install_log()
    if log.get("running_before") != "1":
        raise DemoFailed(f"Plugin::FindProc did not see {PRODUCT_PROCESS} running: {log}")
    demo.account.detail(f"Plugin::FindProc \"{PRODUCT_PROCESS}\" answered 1: it runs")

    demo.account.say(f"Closing {PRODUCT_PROCESS}, as the user would, then pressing Retry")
    pathlib.Path(f"{demo.holder_ready}.stop").touch()
    wait_for_end(demo.holder, f"{PRODUCT_PROCESS} did not end within 30 s")
    if demo.driver(f"press {IDRETRY}") != "ok":
        raise DemoFailed("could not press Retry on the installer's box")


def installer_finishes(demo):
    log = wait_until(lambda: demo.read_install_log() if "finished" in demo.read_install_log() else None, 60)
    if not log:
        raise DemoFailed(f"the installer did not finish within 60 s after Retry: {demo.read_install_log()}")
    if log["finished"] != str(NEW_VERSION):
        raise DemoFailed(f"the installer stopped early: {log}")
    if wait_for_box(demo, "WRZ", 0) is not None:
        raise DemoFailed("the installer's box is still open")
    demo.account.say(f"The installer went on and finished (its log: {demo.install_win}\\update.log)")
    demo.account.detail(f"Plugin::FindProc after the wait: {log['running_after']} (no longer runs)")
    demo.account.detail(f"Plugin::GetSysVersion: {log['windows']}; Plugin::IsSupport64: "
                        f"{log['windows_64bit']}")
    demo.account.detail(f"Plugin::DeleteRegValue of the old LegacyChannel value: {log['legacy_value_deleted']}")
    demo.account.detail(f"Plugin::RWCreate DIR {log['shared_dir']}: {log['shared_dir_created']}")
    expected = {"running_after": "0", "windows_64bit": "1" if demo.wow64 else "0",
                "legacy_value_deleted": "1", "shared_dir_created": "1"}
    wrong = {key: log.get(key) for key, value in expected.items() if log.get(key) != value}
    if wrong:
        raise DemoFailed(f"the installer's log shows {wrong}, expected {expected}")
    if not demo.shared_dir.is_dir():
        raise DemoFailed(f"the shared directory {demo.shared_dir} is missing")


def second_run(demo):
    demo.account.begin("Running Quillon.exe once more, after the update")
    requests_before = len(server_requests(demo))
    demo.updater = start_updater(demo)
    box = wait_for_box(demo, demo.english["Quillon"], 90)
    if box is None:
        raise DemoFailed("Quillon showed no message box on its second run")
    shot = screenshot(demo, "up-to-date")
    demo.account.say(f"After the update, Quillon says: {box['text']}")
    demo.account.detail(f"-> {shot}")
    if box["text"] != demo.english["SoftLatest"]:
        raise DemoFailed(f"expected \"{demo.english['SoftLatest']}\"")
    demo.driver(f"press {IDOK}")
    wait_for_end(demo.updater, "Quillon did not end after OK")
    asked = server_requests(demo)[requests_before:]
    if asked != [f"/{VERSION_FILE}"]:
        raise DemoFailed(f"the second run asked the server for {asked}, expected the version file alone")
    demo.account.detail(f"pressed OK; Quillon ended, having fetched only {VERSION_FILE}")


def start_updater(demo):
    # No pipes: the installer it starts would inherit them.
    return subprocess.Popen(["wine", str(demo.install_dir / "Quillon.exe")], cwd=demo.work,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def server_requests(demo):
    """The paths nginx has answered so far, in order (it logs a request once
    it has been answered)."""
    return [path for path, _ in demo.server.requests()]


def expect_request(demo, name, after=0):
    """Waits until nginx has answered a request for name, after the first
    `after` requests of the run."""
    if not wait_until(lambda: f"/{name}" in server_requests(demo)[after:], 60):
        raise DemoFailed(f"Quillon did not fetch {name} from the server within 60 s "
                         f"(fetched: {demo.server.requests()})")


def dialog_mid_download(demo):
    """The dialog's state once its bar is well on its way, and not yet near
    its end."""
    state = parse(demo.driver("state"))
    return state if state.get("progress", "0").isdigit() and 10 <= int(state["progress"]) <= 90 else None


def shown_box(demo, captions):
    """The message box shown now if its caption is one of captions; None
    otherwise."""
    reply = demo.driver("msgbox 0")
    found = parse(reply) if reply != "timeout" else {}
    return found if found.get("caption") in captions else None


def wait_for_box(demo, caption, seconds):
    """The message box with this caption, polled until it shows or the time
    is up; None if it never did."""
    return wait_until(lambda: shown_box(demo, (caption,)), seconds, interval=0.3)


def start_driver(demo):
    """window_driver.exe, started once for the whole demo."""
    demo.driver = demo.driver or Driver(demo.bin / "window_driver.exe")


def wait_for_end(process, failure, seconds=30):
    """Waits for a process the demo started to end; DemoFailed(failure) when
    it has not within seconds."""
    try:
        process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        raise DemoFailed(failure) from None


def screenshot(demo, name):
    target = window_screenshot.take(demo.driver, demo.shots / f"{name}.png")
    if target is None:
        raise DemoFailed(f"could not take the screenshot {name}.png: no window shown")
    return target


def close_windows(demo):
    """Ends Quillon and cancels a waiting installer, whatever state they are in."""
    if demo.driver:
        try:
            demo.driver("kill-updaters", timeout=10)
            # An installer still waiting in its box is cancelled.
            if wait_for_box(demo, "WRZ", 0):
                demo.driver(f"press {IDCANCEL}", timeout=10)
        except (AssertionError, OSError):
            pass
        demo.driver.close()
    if demo.updater and demo.updater.poll() is None:
        try:
            demo.updater.wait(timeout=10)
        except subprocess.TimeoutExpired:
            demo.updater.kill()
