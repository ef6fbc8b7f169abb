#!/usr/bin/env python3
"""The real Quillon.exe at the display scalings users run: 96, 144 and 192 DPI
(100, 150 and 200 %), in English and in the stand-in library's language whose
status texts take the most room.

Wine 8 reads the user's LogPixels (HKCU\\Control Panel\\Desktop) each time a
program starts, so every case sets it and starts a new updater in the test's
own prefix; the value is removed again at the end, which leaves a new
prefix's 96. Wine treats every program as per-monitor DPI aware whatever its
manifest says: these cases show the layout at each scaling, and the
binaries' PE check holds the manifest's declarations.

In each case the version file stands half-way until the test has looked at
the dialog, then its connection closes (the failure box); after Retry it
arrives whole and the updater says that the software is up to date (the
other box). Each
window is kept as a screenshot, screenshots/scaling/<dpi>dpi-<language>-<window>.png
in the work folder. Inside the updater (window_driver's text-extent), every
status text of every language is measured in the status line's font and must
fit the line, the button's label its button; the dialog and its status line
must grow with the DPI."""
import pathlib
import sys
import time
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import updater_e2e_test as harness  # noqa: E402
import window_screenshot  # noqa: E402
from updater_e2e_test import MB_OK_BUTTONS, MB_RETRYCANCEL_BUTTONS, VERSION_FILE  # noqa: E402

SCALINGS = (96, 144, 192)
ENGLISH_ID = 1033
LANGUAGES = sorted(int(path.stem) for path in (harness.ROOT / "standins" / "language_library" / "texts").glob("*.txt"))
IDOK, IDCANCEL, IDRETRY, IDC_STATUS = 1, 2, 4, 1002
# The dialog and its status line at N DPI are N/96 times their size at 96,
# give or take what rounding to pixels and the system's frame add.
SCALE_TOLERANCE = 0.1


def status_texts(texts):
    return {key: text for key, text in texts.items() if key.startswith("StatusCode")}


class DisplayScaling(harness.UpdaterCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.texts = {language: harness.texts(language) for language in LANGUAGES}
        # The cases set the scaling; the prefix's own comes back at the end.
        cls.addClassCleanup(cls.driver, "log-pixels default")

    def setUp(self):
        super().setUp()
        for server in (self.server32, self.server64):
            server.hold()

    def tearDown(self):
        for server in (self.server32, self.server64):
            server.release()
        super().tearDown()

    def measure(self, control, text=""):
        """text (or the control's own) in the font of the dialog's control,
        measured inside the updater: width, height, client_width,
        client_height, and the DPI the dialog is laid out for."""
        reply = self.driver(f"text-extent {control} {text}".rstrip())
        answer = harness.parse(reply)
        self.assertIn("width", answer, f"text-extent {control} {text!r}: {reply}")
        return {name: int(value) for name, value in answer.items()}

    def expect_fits(self, control, text, where):
        extent = self.measure(control, text)
        self.assertGreater(extent["width"], 0, f"{where}: {text!r} measured as nothing")
        self.assertTrue(extent["width"] <= extent["client_width"] and extent["height"] <= extent["client_height"],
                        f"{where}: {text!r} takes {extent['width']} x {extent['height']} px of "
                        f"{extent['client_width']} x {extent['client_height']}")
        return extent

    def box_after(self, answered):
        """The next message box, once the answered one has gone."""
        box, end = answered, time.time() + 60
        while box == answered and time.time() < end:
            time.sleep(0.1)
            reply = self.driver("msgbox 500", timeout=15)
            box = harness.parse(reply) if reply != "timeout" else answered
        self.assertNotEqual(box, answered, "no other box appeared")
        return box

    def run_at(self, dpi, language):
        """One run of the updater at dpi in language, every window looked at
        and kept. Gives the dialog's size, the status line's width and the
        room each language's status texts take, in pixels."""
        self.setUp()
        texts = self.texts[language]
        shot = f"scaling/{dpi}dpi-{language}"
        self.assertEqual(self.driver(f"log-pixels {dpi}"), "ok")
        self.assertEqual(self.driver(f"user-langid {language}"), "ok")
        server, root = self.server_for_this_windows()
        self.install_product(version=7, url32=f"{server.url}/files", url64=f"{server.url}/files")
        # Some lines of comment ahead of the version, so that the half that
        # arrives before the hold is a part of the file, not all of it.
        padding = "".join(f"; line {i:02d} {'-' * 60}\r\n" for i in range(20))
        self.publish(root, version_text=f"[ServerSoftVersion]\r\n{padding}LatestVersion=7\r\n", installer=False)
        # The version file stands half-way, then its connection closes.
        server.file_faults[VERSION_FILE] = "hold/cut"
        self.start_updater()

        self.assertEqual(self.driver("dialog 30000", timeout=40), "ok")
        state, end = {}, time.time() + 30
        while time.time() < end and not 0 < int(state.get("progress", "0")) < 100:
            time.sleep(0.1)
            state = harness.parse(self.driver("state"))
        self.assertTrue(0 < int(state.get("progress", "0")) < 100, f"the download never stood half-way: {state}")
        self.assertEqual(state["caption"], texts["Quillon"])
        shown = self.expect_fits(IDC_STATUS, "", f"the status line at {dpi} DPI")
        self.assertEqual(shown["dpi"], dpi, "the updater does not run at the scaling the test set")
        room = {}
        for other in LANGUAGES:
            widths = [self.expect_fits(IDC_STATUS, text, f"{key} of {other} at {dpi} DPI")["width"]
                      for key, text in status_texts(self.texts[other]).items()]
            room[other] = sum(widths)
        self.expect_fits(IDCANCEL, "", f"the button at {dpi} DPI")
        dialog = window_screenshot.parse_rect(self.driver("rect dialog"))
        self.assertIsNotNone(dialog)
        self.screenshot(f"{shot}-downloading")

        server.release()
        box = self.message_box()
        self.assertEqual((box["caption"], box["text"], box["buttons"]),
                         (texts["Quillon"], texts["DownloadFail"], MB_RETRYCANCEL_BUTTONS))
        self.screenshot(f"{shot}-download-failed")

        del server.file_faults[VERSION_FILE]
        self.assertEqual(self.driver(f"press {IDRETRY}"), "ok")
        box = self.box_after(box)
        self.assertEqual((box["caption"], box["text"], box["buttons"]),
                         (texts["Quillon"], texts["SoftLatest"], MB_OK_BUTTONS))
        self.screenshot(f"{shot}-up-to-date")
        self.assertEqual(self.driver(f"press {IDOK}"), "ok")
        self.expect_exit_zero()
        return {"dialog": (dialog[2] - dialog[0], dialog[3] - dialog[1]), "status": shown["client_width"],
                "room": room}

    def test_dialog_and_boxes_at_each_scaling(self):
        # English at 96 DPI first: its run measures which other language's
        # status texts take the most room, and that language runs next.
        at_96 = {ENGLISH_ID: self.run_at(SCALINGS[0], ENGLISH_ID)}
        room = at_96[ENGLISH_ID]["room"]
        longest = max((language for language in room if language != ENGLISH_ID), key=room.get)
        print(f"\n  status texts at 96 DPI, px per language: {room}; the longest: {longest}", file=sys.stderr)
        cases = [(SCALINGS[0], longest)] + [(dpi, language) for dpi in SCALINGS[1:] for language in (ENGLISH_ID, longest)]
        for dpi, language in cases:
            with self.subTest(dpi=dpi, language=language):
                seen = self.run_at(dpi, language)
                if dpi == SCALINGS[0]:
                    at_96[language] = seen
                    continue
                scale = dpi / SCALINGS[0]
                before = at_96[language]
                for what, now, then in (("dialog width", seen["dialog"][0], before["dialog"][0]),
                                        ("dialog height", seen["dialog"][1], before["dialog"][1]),
                                        ("status line", seen["status"], before["status"])):
                    self.assertAlmostEqual(now / then, scale, delta=scale * SCALE_TOLERANCE,
                                           msg=f"{what} at {dpi} DPI: {now} px, {then} px at 96")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + harness.parse_arguments(), verbosity=2)
