#!/usr/bin/env python3
"""Installers that use Plugin.dll through Plugin.nsh, built by makensis with
warnings as errors and run silently: every condition and macro answers as
the raw call it wraps, leaves the registers, the error flag and the
script's own stack texts alone, and writes and deletes where its views text
says. The DLL wait is answered from outside while a program holds the DLL."""
import pathlib
import re
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import nsis_harness  # noqa: E402

ARGS = nsis_harness.ARGS
HERE = pathlib.Path(__file__).parent
PARENT = r"Software\QuillonTests"
KEY = PARENT + r"\PluginHeader"
SCRIPT_STACK = "[end][HKLM]"
NAME260 = "p" * 256 + ".exe"
NAME261 = "p" * 257 + ".exe"


def work_root():
    """This prefix's own folder: the prefixes run at the same time from one build tree."""
    work, arch = pathlib.Path(ARGS.work_dir), nsis_harness.prefix_arch()
    return work if work.name == arch else work / arch


def compile_strict(script, work_dir, name, defines):
    """makensis with warnings as errors; gives the installer and its result file."""
    work_dir.mkdir(parents=True, exist_ok=True)
    installer = work_dir / f"{name}.exe"
    result = work_dir / f"{name}.result"
    args = ["makensis", "-WX", "-V2", f"-DPLUGIN_DIR={ARGS.plugin_dir}", f"-DOUT_FILE={installer}",
            f"-DRESULT_FILE={nsis_harness.windows_path(result)}"]
    args += [f"-D{k}={v}" for k, v in defines.items()]
    built = subprocess.run(args + [str(script)], capture_output=True, text=True)
    if built.returncode != 0:
        raise AssertionError(f"makensis failed on {script.name}:\n{built.stdout}{built.stderr}")
    return installer, result


def parse_lines(lines):
    """'name out=[..] changed=[..] stack=..' and 'name raw=[..] left=..' -> {name: {field: text}}."""
    cases = {}
    for line in lines:
        match = re.fullmatch(r"(\w+) out=\[(.*)\] changed=\[(.*)\] stack=(.*)", line)
        if match:
            cases.setdefault(match.group(1), {}).update(
                out=match.group(2), changed=match.group(3), stack=match.group(4))
            continue
        match = re.fullmatch(r"(\w+) raw=\[(.*)\] left=(.*)", line)
        if match:
            cases.setdefault(match.group(1), {}).update(raw=match.group(2), left=match.group(3))
    return cases


class HeaderCompiles(unittest.TestCase):
    """On the host: an unused header must not cost a warning either."""

    def compile_text(self, text):
        work = pathlib.Path(ARGS.work_dir) / "host"
        work.mkdir(parents=True, exist_ok=True)
        script = work / "include_only.nsi"
        script.write_text(text, encoding="utf-8")
        return subprocess.run(["makensis", "-WX", "-V2", f"-DPLUGIN_DIR={ARGS.plugin_dir}",
                               f"-DOUT_FILE={work / 'include_only.exe'}", str(script)],
                              capture_output=True, text=True)

    def test_included_twice_beside_nsis_headers_and_unused(self):
        built = self.compile_text(
            "Unicode true\n"
            '!addincludedir "${PLUGIN_DIR}"\n'
            "!include Plugin.nsh\n!include LogicLib.nsh\n!include x64.nsh\n!include WinVer.nsh\n"
            "!include Plugin.nsh\n"
            'OutFile "${OUT_FILE}"\nRequestExecutionLevel user\n'
            "Section\n  Plugin::IsSupport64\nSectionEnd\n")
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)

    def test_ansi_installer_is_refused_by_name(self):
        built = self.compile_text(
            "Unicode false\n"
            '!addincludedir "${PLUGIN_DIR}"\n!include Plugin.nsh\n'
            'OutFile "${OUT_FILE}"\nRequestExecutionLevel user\n'
            "Section\n  ${GetSysVersion} $0\nSectionEnd\n")
        self.assertNotEqual(built.returncode, 0)
        self.assertIn("Unicode installers only", built.stdout + built.stderr)


# Answers of the header's calls; a pair is (64-bit Windows, 32-bit Windows).
ANSWERS = {
    "find_self": "1", "find_missing": "0", "find_empty": "632",
    "find_name260": "0", "find_name261": "632", "find_into_r0": "1",
    "dir_new": "1", "dir_again": "0", "file_no_parent": "", "kind_lower_case": "",
    "str_x86": "", "str_x64": "", "str_both": "", "dword_x86": "", "dword_x64": "", "dword_both": "",
    "bin_x86": "", "bin_x64": "", "bin_both": "", "str_data_end": "", "str_from_registers": "",
    "views_empty": "0", "views_unknown": "", "views_half_known": "", "data_empty": "0",
    "name_empty": "0", "root_unknown": "",
    "value_x86": "1", "value_x64": "1", "value_both": "1", "value_missing": "0",
    "value_ifempty": "", "value_views_empty": "0",
    "key_x86": "1", "key_x64": "1", "key_both": "1", "key_subkeys": "0",
    "key_subkeys_ifempty": "1", "key_only_ifempty": "1", "key_missing": "0", "key_missing_into_r1": "0",
    "key_empty": "0",
    "chain": ("64-bit", "32-bit"),
}
# Which LogicLib forms run their body, for a condition that holds and one that does not.
FORMS_TRUE = " If:y Unless:n AndIf:y OrIf:y ElseIf:y"
FORMS_FALSE = " If:n Unless:y IfNot:y"
CONDITIONS = {"if_running": True, "if_not_running": False, "if_name261": False, "if_64bit": (True, False)}

# What the header's writes leave in each view (on 32-bit Windows both
# queries show the one registry). On 32-bit Windows "/x86 /x64" writes that
# registry, where the raw call with the same switches writes nothing.
WRITTEN_32 = {"S86": ("REG_SZ", "a"), "SBoth": ("REG_SZ", "c"), "D86": ("REG_DWORD", "0x2a"),
              "DBoth": ("REG_DWORD", "0xffffffff"), "B86": ("REG_BINARY", "0A1B"),
              "BBoth": ("REG_BINARY", "1F30"), "End": ("REG_SZ", "end"), "FromR1": ("REG_SZ", "vR1")}
WRITTEN_64 = {"S64": ("REG_SZ", "b"), "SBoth": ("REG_SZ", "c"), "D64": ("REG_DWORD", "0x7"),
              "DBoth": ("REG_DWORD", "0xffffffff"), "B64": ("REG_BINARY", "FF"), "BBoth": ("REG_BINARY", "1F30")}
TRAPPED_ON_32BIT = {"SBoth", "DBoth", "BBoth"}
# After the deletes: the values and keys that remain, per view.
REMAINING_64BIT_WINDOWS = {
    32: ({"V64", "VKept"}, {"K64", "Tree", "Tree\\Child"}),
    64: ({"V86", "VKept"}, {"K86", "Tree", "Tree\\Child"}),
}
REMAINING_32BIT_WINDOWS = ({"V64", "VKept"}, {"K64", "Tree", "Tree\\Child"})


class HeaderCalls(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.win64 = nsis_harness.prefix_arch() == "win64"
        cls.work = work_root() / "calls"
        shutil.rmtree(cls.work, ignore_errors=True)
        scratch = cls.work / "scratch"
        scratch.mkdir(parents=True)
        cls.scratch = nsis_harness.windows_path(scratch)
        installer, result = compile_strict(
            HERE / "plugin_header_calls.nsi", cls.work, "plugin_header_calls",
            {"KEY": KEY, "SELF": "plugin_header_calls.exe", "WORK_DIR": cls.scratch,
             "NAME260": NAME260, "NAME261": NAME261})
        nsis_harness.remove_registry_key(KEY, PARENT)
        try:
            lines = nsis_harness.run_installer(installer, result)
            cls.views = {view: nsis_harness.read_registry_tree(KEY, view) for view in (32, 64)}
        finally:
            nsis_harness.remove_registry_key(KEY, PARENT)
        if lines is None:
            raise AssertionError("the installer wrote no result")
        cls.lines = lines
        cls.cases = parse_lines(lines)

    def on_this_system(self, expected):
        return expected if not isinstance(expected, tuple) else expected[0 if self.win64 else 1]

    def test_answers(self):
        self.assertEqual(self.lines[-1], "done", "the installer did not run to its end")
        for name, expected in ANSWERS.items():
            with self.subTest(call=name):
                self.assertEqual(self.cases[name]["out"], self.on_this_system(expected))
        self.assertEqual(self.cases["file_named_by_r0"]["out"], self.scratch + "\\header-vR0.dat")

    def test_answers_match_the_raw_calls(self):
        # A raw call that answers nothing leaves $R0 at "keep"; the macro answers "".
        compared = [name for name, case in self.cases.items() if "raw" in case and name not in CONDITIONS]
        for name in compared:
            with self.subTest(call=name):
                raw = self.cases[name]["raw"]
                if name == "file_named_by_r0":
                    self.assertEqual(raw, self.scratch + "\\raw.dat")
                else:
                    self.assertEqual(self.cases[name]["out"], "" if raw == "keep" else raw)
        self.assertEqual(self.cases["version_into_r0"]["out"], self.cases["version"]["raw"])
        self.assertTrue(self.cases["version"]["raw"])

    def test_conditions_in_every_logiclib_form(self):
        for name, holds in CONDITIONS.items():
            holds = self.on_this_system(holds)
            with self.subTest(condition=name):
                self.assertEqual(self.cases[name]["raw"] == "1", holds)
                self.assertEqual(self.cases[name]["out"], FORMS_TRUE if holds else FORMS_FALSE)

    def test_registers_error_flag_and_script_stack_untouched(self):
        checked = set(ANSWERS) | set(CONDITIONS) | {"file_named_by_r0", "version", "version_into_r0"}
        self.assertEqual({name for name, case in self.cases.items() if "out" in case}, checked)
        for name in sorted(checked):
            with self.subTest(call=name):
                self.assertEqual(self.cases[name]["changed"], "")
                self.assertEqual(self.cases[name]["stack"], SCRIPT_STACK)

    def values(self, tree, key, view):
        return self.views[view].get(f"{tree}\\{key}", {})

    def test_writes_land_where_the_views_text_says(self):
        for view in (32, 64):
            if self.win64:
                expected = WRITTEN_32 if view == 32 else WRITTEN_64
            else:
                expected = WRITTEN_32
            with self.subTest(view=view):
                self.assertEqual(self.values("Header", "Values", view), expected)
                raw_expected = {name: stored for name, stored in expected.items()
                                if name != "FromR1" and (self.win64 or name not in TRAPPED_ON_32BIT)}
                self.assertEqual(self.values("Raw", "Values", view), raw_expected)

    def test_deletes_remove_what_the_views_text_says(self):
        for view in (32, 64):
            values, keys = REMAINING_64BIT_WINDOWS[view] if self.win64 else REMAINING_32BIT_WINDOWS
            for tree in ("Header", "Raw"):
                with self.subTest(view=view, tree=tree):
                    self.assertEqual(set(self.values(tree, "Doomed", view)), values)
                    keys_left = {path[len(tree) + 1:] for path in self.views[view] if path.startswith(tree + "\\")}
                    self.assertEqual(keys_left - {"Doomed", "Values"}, keys)


class WaitUntilDllFree(unittest.TestCase):
    def setUp(self):
        self.work = work_root() / "wait"
        shutil.rmtree(self.work, ignore_errors=True)
        self.work.mkdir(parents=True)
        bin_dir = pathlib.Path(ARGS.plugin_dir)
        held = self.work / "HeaderHeld.dll"
        shutil.copy(bin_dir / "HeldModule.dll", held)
        self.ready = self.work / "holder.ready"
        self.waiting = self.work / "installer.waiting"
        self.prompt_text = self.work / "prompt.txt"
        held_path = nsis_harness.windows_path(held)
        self.installer, self.result = compile_strict(
            HERE / "plugin_header_wait.nsi", self.work, "plugin_header_wait",
            {"WAITING_FILE": nsis_harness.windows_path(self.waiting),
             "FREE_DLL": nsis_harness.windows_path(self.work / "NobodyHolds.dll"),
             "HELD_DLL": held_path, "HELD_DLL_SLASHES": held_path.replace("\\", "/")})
        self.holder = nsis_harness.start_dll_holder(bin_dir, self.ready, held_path)
        self.running = None

    def tearDown(self):
        pathlib.Path(str(self.ready) + ".stop").touch()
        if self.running and self.running.poll() is None:
            self.answer("cancel", 10000)
            self.answer("cancel", 10000)
        nsis_harness.end_processes(self.running, self.holder)

    def answer(self, button, timeout_ms):
        if self.prompt_text.exists():
            self.prompt_text.unlink()
        return nsis_harness.answer_prompt(ARGS.plugin_dir, button, timeout_ms, self.prompt_text)

    def test_a_path_waits_for_the_program_holding_its_file(self):
        self.assertTrue(nsis_harness.wait_for(self.ready.exists, 60), "the DLL holder did not start")
        self.running = subprocess.Popen(
            ["wine", str(self.installer), "/S"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=nsis_harness.wine_env())
        # A DLL nobody holds: no box, the installer goes straight on.
        self.assertTrue(nsis_harness.wait_for(self.waiting.exists, 60), "the wait for a free DLL did not return")
        for separators in ("backslashes", "forward slashes"):
            with self.subTest(path_with=separators):
                self.assertEqual(self.answer("cancel", 30000), 0, "no prompt captioned WRZ appeared")
                self.assertIn("dllholder.exe", self.prompt_text.read_text(encoding="utf-16").lower())
        self.assertEqual(self.running.wait(timeout=60), 0)
        lines = self.result.read_text(encoding="utf-16").splitlines()
        self.assertEqual(lines, ["start", f"free out=[] changed=[] stack={SCRIPT_STACK}",
                                 f"held out=[] changed=[] stack={SCRIPT_STACK}", "done"])


if __name__ == "__main__":
    nsis_harness.main()
