#!/usr/bin/env python3
"""The screenshots' crop: which part of Wine's desktop a picture keeps."""
import pathlib
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from window_screenshot import crop_geometry, parse_rect  # noqa: E402


class CropGeometry(unittest.TestCase):
    def test_crop_holds_every_window_and_stays_on_the_desktop(self):
        cases = [
            ("one window", [(100, 50, 514, 191)], "414x141+100+50"),
            ("a box over its dialog", [(100, 50, 514, 191), (130, 70, 490, 170)], "414x141+100+50"),
            ("a box reaching past its dialog", [(100, 50, 514, 191), (60, 100, 300, 260)], "454x210+60+50"),
            ("a window half off the top left", [(-30, -20, 200, 100)], "200x100+0+0"),
            ("a window past the bottom right", [(900, 700, 1100, 800)], "124x68+900+700"),
            ("a window wholly off the desktop", [(1100, 100, 1300, 200)], None),
            ("no window", [], None),
        ]
        for name, rects, expected in cases:
            with self.subTest(name):
                self.assertEqual(crop_geometry(rects, 1024, 768), expected)

    def test_driver_answers(self):
        cases = [
            ("100 50 514 191", (100, 50, 514, 191)),
            ("-8 -8 1032 776", (-8, -8, 1032, 776)),
            ("none", None),
            ("error unknown command rect", None),
            ("100 50 100 191", None),  # no width: a window that is not shown
            ("100 50 514", None),
        ]
        for reply, expected in cases:
            with self.subTest(reply):
                self.assertEqual(parse_rect(reply), expected)


if __name__ == "__main__":
    unittest.main(verbosity=2)
