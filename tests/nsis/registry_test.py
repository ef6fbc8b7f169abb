#!/usr/bin/env python3
"""A makensis-built installer writes and deletes registry keys and values
through the five registry exports, as a script author would call them; the
registry is then read from outside in the 32-bit and the 64-bit view."""
import pathlib
import re
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import nsis_harness  # noqa: E402

ARGS = nsis_harness.ARGS
HERE = pathlib.Path(__file__).parent
PARENT = r"Software\QuillonTests"
KEY = PARENT + r"\RegistryNsis"
LONG_NAME = "n" * 300  # beyond the registry's 255-character key names

# Answer in $R0 and texts left on the stack, per call: (64-bit Windows, 32-bit Windows).
# On 32-bit Windows "/x64" is no switch for the writes: as the first text it
# names no root, so the call ends and leaves the rest of its texts behind.
ANSWERS = {
    "str_both": (("keep", 0), ("keep", 5)),
    "str_only64": (("keep", 0), ("keep", 5)),
    "dword_neg": (("keep", 0),) * 2,
    "dword_wrap": (("keep", 0),) * 2,
    "dword_text": (("keep", 0),) * 2,
    "bin_odd": (("keep", 0),) * 2,
    "bin_bad": (("keep", 0),) * 2,
    "str_retype": (("keep", 0),) * 2,
    "str_empty_data": (("0", 1),) * 2,
    "dword_empty_name": (("0", 2),) * 2,
    "str_spelled_root": (("keep", 4),) * 2,
    "str_blank_root": (("keep", 4),) * 2,
    "str_refused_key": (("keep", 0),) * 2,
    "str_no_view": (("keep", 0),) * 2,
    "setup": (("keep", 0), ("keep", 10)),
    "key_with_subkeys": (("0", 0),) * 2,
    "key_with_subkeys_ifempty": (("1", 0),) * 2,
    "key_child": (("1", 0),) * 2,
    "key_missing": (("0", 0),) * 2,
    # Num exists in the 32-bit view only; on 32-bit Windows "/x64" alone does nothing.
    "key_x64_only": (("0", 0), ("1", 0)),
    "key_no_view": (("1", 0),) * 2,
    "value_both": (("1", 0),) * 2,
    "value_missing": (("0", 0),) * 2,
    "value_missing_key": (("0", 0),) * 2,
    "value_x64_only": (("0", 0), ("1", 0)),
    "value_ifempty": (("keep", 5),) * 2,
    "key_empty_subkey": (("0", 1),) * 2,
}


class Registry(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        arch = nsis_harness.prefix_arch()
        cls.win64 = arch == "win64"
        installer, result = nsis_harness.compile_installer(
            HERE / "registry.nsi", ARGS.work_dir, ARGS.plugin_dir, "registry",
            {"KEY": KEY, "LONGNAME": LONG_NAME})
        nsis_harness.remove_registry_key(KEY, PARENT)
        try:
            lines = nsis_harness.run_installer(installer, result)
            cls.view32 = nsis_harness.read_registry_tree(KEY, 32)
            cls.view64 = nsis_harness.read_registry_tree(KEY, 64)
        finally:
            nsis_harness.remove_registry_key(KEY, PARENT)
        if lines is None:
            raise AssertionError("the installer wrote no result")
        cls.lines = lines
        cls.answers = {}
        for line in lines:
            match = re.fullmatch(r"(\w+)=\[(.*)\] left=(\d+)", line)
            if match:
                cls.answers[match.group(1)] = (match.group(2), int(match.group(3)))

    def test_every_call_answers_as_expected(self):
        self.assertEqual(self.lines[-1], "done", "the installer did not run to its end")
        for name, (on64, on32) in ANSWERS.items():
            with self.subTest(call=name):
                self.assertEqual(self.answers.get(name), on64 if self.win64 else on32)

    def value(self, view, key, name):
        return (self.view32 if view == 32 else self.view64).get(key, {}).get(name)

    def test_written_values(self):
        # What the 32-bit view holds on either system.
        expected32 = {
            ("Num", "Neg"): ("REG_DWORD", "0xffffffff"),
            ("Num", "Wrap"): ("REG_DWORD", "0x2a"),
            ("Num", "Text"): ("REG_SZ", "now text"),  # was a DWORD, replaced by a string
            ("Bin", "Odd"): ("REG_BINARY", "1F30"),
            ("Bin", "Bad"): ("REG_BINARY", ""),
        }
        for (key, name), stored in expected32.items():
            with self.subTest(key=key, value=name):
                self.assertEqual(self.value(32, key, name), stored)
        if self.win64:
            self.assertEqual(self.value(32, "Str", "Path"), ("REG_SZ", r"C:\A"))
            self.assertEqual(self.value(64, "Str", "Path"), ("REG_SZ", r"C:\A"))
            self.assertEqual(self.value(64, "Only64", "V"), ("REG_SZ", "x"))
            self.assertNotIn("Only64", self.view32)
            self.assertNotIn("Num", self.view64)
        else:
            self.assertNotIn("Str", self.view32)
            self.assertNotIn("Only64", self.view32)
            # One view only: the flags name the same keys.
            self.assertEqual(self.view32, self.view64)

    def test_refused_writes_leave_nothing(self):
        for view in (self.view32, self.view64):
            for key in ("Empty", "Spelled", "Blank", "NoView", LONG_NAME, LONG_NAME[:255]):
                self.assertNotIn(key, view)

    def test_deletes(self):
        views = (self.view32, self.view64) if self.win64 else (self.view32,)
        for view in views:
            # Tree keeps its place (it had a sub-key, with or without /ifempty);
            # its sub-key went in the later call.
            self.assertIn("Tree", view)
            self.assertNotIn(r"Tree\Child", view)
            # V went from both views, the other value of the key stays.
            self.assertNotIn("V", view.get("Val", {}))
        self.assertEqual(self.value(32, "Val", "Keep"), ("REG_SZ", "x"))
        # "/x64" alone never reaches the 32-bit view.
        self.assertEqual(self.value(32, "Num", "Neg"), ("REG_DWORD", "0xffffffff"))


if __name__ == "__main__":
    nsis_harness.main()
