#!/usr/bin/env python3
"""Installers that use Plugin.dll through Plugin.nsh, built by makensis with
warnings as errors and run silently: every condition and macro answers as
the raw call it wraps, leaves the registers, the error flag and the
script's own stack texts alone, and writes and deletes where its views text
says. Switch words where a registry macro expects a root, key, name or data,
and a plug-in that NSIS cannot load, end in the documented answers, each
case within a time limit. The DLL wait is answered from outside while a
program holds the DLL."""
import pathlib
import re
import shutil
import subprocess
import sys
import time
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


def compile_strict(script, work_dir, name, defines, plugin_dir=None):
    """makensis with warnings as errors; gives the installer and its result file."""
    work_dir.mkdir(parents=True, exist_ok=True)
    installer = work_dir / f"{name}.exe"
    result = work_dir / f"{name}.result"
    args = ["makensis", "-WX", "-V2", f"-DPLUGIN_DIR={plugin_dir or ARGS.plugin_dir}", f"-DOUT_FILE={installer}",
            f"-DRESULT_FILE={nsis_harness.windows_path(result)}", *nsis_harness.target_defines()]
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
        if nsis_harness.installers_are_64bit():
            text = text.replace("Unicode true\n", f"Unicode true\nTarget {nsis_harness.AMD64}\n", 1)
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
        if nsis_harness.installers_are_64bit():
            self.skipTest("NSIS builds 64-bit installers for Unicode only")
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
    "flag_kept": "1",
}
# Calls made with the error flag set, which the macro must leave set.
FLAG_SET = {"flag_kept"}
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
                self.assertEqual(self.cases[name]["changed"], " errors" if name in FLAG_SET else "")
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


# ---- Switch words where a registry macro expects another text ----
SWITCH_KEY = r"Software\QuillonTests\PluginHeaderSwitch"
SWITCH_WORDS = ["/x86", "/x64", "/ifempty", "/X86", "/IfEmpty"]
# Per macro: its positions, and the texts it gets where the case puts no
# switch word. Each write has a value of its own; the deletes aim at a key
# and a value that the installer creates first and that must survive.
SWITCH_MACROS = {
    "PluginWriteRegStr": ["HKCU", SWITCH_KEY + r"\Writes", "VStr", "text"],
    "PluginWriteRegDWORD": ["HKCU", SWITCH_KEY + r"\Writes", "VDword", "7"],
    "PluginWriteRegBin": ["HKCU", SWITCH_KEY + r"\Writes", "VBin", "0A"],
    "PluginDeleteRegValue": ["HKCU", SWITCH_KEY + r"\Doomed", "VDoomed"],
    "PluginDeleteRegKey": ["HKCU", SWITCH_KEY + r"\Doomed\Child"],
}
POSITIONS = ["root", "key", "name", "data"]
SWITCH_FIXTURE = {"Doomed": {"vdoomed": ("REG_SZ", "x")}, "Doomed\\Child": {"v": ("REG_SZ", "x")}}
CASE_LIMIT = 30  # seconds one case may take before it counts as hung


def reads_as_switch(word, macro, win64):
    """Whether the export behind macro takes word for a switch: "/x64" is one
    for the writes only on 64-bit Windows."""
    word = word.lower()
    if word == "/x64":
        return macro.startswith("PluginDelete") or win64
    return word == "/x86" or (word == "/ifempty" and macro == "PluginDeleteRegKey")


# A written value as reg.exe shows it, (type, data), for each macro's own data
# and each switch word that a write stores as data ("/x86" is a switch to
# every write, "/x64" on 64-bit Windows). A word is no number (0), and no
# hexadecimal (an empty value).
WRITTEN_AS = {
    ("PluginWriteRegStr", "text"): ("REG_SZ", "text"),
    ("PluginWriteRegStr", "/x64"): ("REG_SZ", "/x64"),
    ("PluginWriteRegStr", "/ifempty"): ("REG_SZ", "/ifempty"),
    ("PluginWriteRegStr", "/IfEmpty"): ("REG_SZ", "/IfEmpty"),
    ("PluginWriteRegDWORD", "7"): ("REG_DWORD", "0x7"),
    ("PluginWriteRegDWORD", "/x64"): ("REG_DWORD", "0x0"),
    ("PluginWriteRegDWORD", "/ifempty"): ("REG_DWORD", "0x0"),
    ("PluginWriteRegDWORD", "/IfEmpty"): ("REG_DWORD", "0x0"),
    ("PluginWriteRegBin", "0A"): ("REG_BINARY", "0A"),
    ("PluginWriteRegBin", "/x64"): ("REG_BINARY", ""),
    ("PluginWriteRegBin", "/ifempty"): ("REG_BINARY", ""),
    ("PluginWriteRegBin", "/IfEmpty"): ("REG_BINARY", ""),
}


def switch_cases(win64):
    """Every switch word in every position of every registry macro, in order:
    (macro, arguments, position, word, expected output, expected flag text,
    where a carried word is written: (key below HKCU, value name, value))."""
    cases = []
    for macro, base in SWITCH_MACROS.items():
        for position in POSITIONS[:len(base)]:
            for word in SWITCH_WORDS:
                arguments = list(base)
                arguments[POSITIONS.index(position)] = word
                written = None
                if position == "root":
                    out, flag = "", ""      # no root name: nothing happens
                elif reads_as_switch(word, macro, win64):
                    out, flag = "0", " errors"
                elif macro.startswith("PluginWrite"):
                    out, flag = "", ""
                    written = (arguments[1], arguments[2], WRITTEN_AS[macro, arguments[3]])
                else:
                    out, flag = "0", ""     # nothing of that name to delete
                cases.append((macro, arguments, position, word, out, flag, written))
    return cases


def read_log(path):
    """The complete lines an installer has written so far."""
    try:
        text = path.read_bytes().decode("utf-16", errors="ignore")
    except OSError:
        return []
    return text.split("\r\n")[:-1]


def nsis_text(text):
    return '"' + text + '"'


class SwitchWordsInRegistryMacros(unittest.TestCase):
    """Each case runs under a time limit: a case that does not end within it
    is ended with the installer, counted as hung, and the installer started
    again from the next case."""

    @classmethod
    def setUpClass(cls):
        cls.win64 = nsis_harness.prefix_arch() == "win64"
        cls.cases = switch_cases(cls.win64)
        cls.work = work_root() / "switch-words"
        shutil.rmtree(cls.work, ignore_errors=True)
        cls.work.mkdir(parents=True)
        cases_file = cls.work / "cases.nsh"
        lines = ["WriteRegStr HKCU " + nsis_text(SWITCH_KEY + r"\Doomed") + ' "VDoomed" "x"',
                 "WriteRegStr HKCU " + nsis_text(SWITCH_KEY + r"\Doomed\Child") + ' "V" "x"']
        for number, (macro, arguments, *_rest) in enumerate(cls.cases):
            lines.append(f"!insertmacro SwitchCase_{macro} {number} \"/x86\" "
                         + " ".join(nsis_text(a) for a in arguments))
        cases_file.write_text("\n".join(lines) + "\n", encoding="utf-8")
        installer, result = compile_strict(HERE / "plugin_header_switch_words.nsi", cls.work,
                                           "plugin_header_switch_words", {"CASES_FILE": cases_file})
        cls.clean_registry()
        try:
            cls.lines, cls.hung = cls.run_every_case(installer, result)
            cls.trees = {key: nsis_harness.read_registry_tree(key, 64, root="HKCU")
                         for key in (SWITCH_KEY, "/x64", "/ifempty", "/x86")}
        finally:
            cls.clean_registry()
        cls.answers = parse_lines(cls.lines)

    @staticmethod
    def clean_registry():
        for key in (SWITCH_KEY, "/x64", "/ifempty", "/x86"):
            nsis_harness.wine_reg("delete", "HKCU\\" + key, "/f")

    @classmethod
    def run_every_case(cls, installer, result):
        """The lines of every run, and the numbers of the cases that hung."""
        lines, hung, first = [], [], 0
        while first < len(cls.cases):
            if result.exists():
                result.unlink()
            process = subprocess.Popen([
                "wine", str(installer), "/S", f"/FIRST={first}"], stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=nsis_harness.wine_env())
            seen, since = 0, time.monotonic()
            while process.poll() is None:
                time.sleep(0.2)
                count = len(read_log(result))
                if count != seen:
                    seen, since = count, time.monotonic()
                elif time.monotonic() - since > CASE_LIMIT:
                    process.kill()
                    process.wait(timeout=30)
                    break
            run = read_log(result)
            lines += run
            if process.returncode == 0 and run and run[-1] == "done":
                break
            begun = [int(line.split()[1]) for line in run if line.startswith("begin ")]
            case = begun[-1] if begun else first
            hung.append(case)
            first = case + 1
        return lines, hung

    def describe(self, number):
        macro, arguments, position, word, *_ = self.cases[number]
        return f"{macro} with {word} as {position}"

    def test_no_case_hangs(self):
        self.assertEqual([self.describe(n) for n in self.hung], [])
        self.assertEqual(self.lines[-1], "done")

    def test_answers_error_flag_registers_and_stack(self):
        for number, (_, _, _, _, out, flag, _) in enumerate(self.cases):
            with self.subTest(case=self.describe(number)):
                answer = self.answers.get(f"case{number}")
                self.assertIsNotNone(answer, "the case did not end")
                self.assertEqual(answer["out"], out)
                self.assertEqual(answer["changed"], flag)
                self.assertEqual(answer["stack"], SCRIPT_STACK)

    def test_only_words_the_export_carries_are_written(self):
        expected = {key: dict(values) for key, values in SWITCH_FIXTURE.items()}
        beside = {}
        for _, _, _, _, _, _, written in self.cases:
            if written:
                key, name, value = written
                if key.startswith(SWITCH_KEY + "\\"):
                    expected.setdefault(key[len(SWITCH_KEY) + 1:], {})[name.lower()] = value
                else:
                    beside.setdefault(key.lower(), {})[name.lower()] = value

        def lowered(tree):
            return {path: {name.lower(): value for name, value in values.items()}
                    for path, values in tree.items() if values or path}
        self.assertEqual(lowered(self.trees[SWITCH_KEY]), expected)
        for key in ("/x64", "/ifempty", "/x86"):
            with self.subTest(key="HKCU\\" + key):
                found = lowered(self.trees[key]).get("", {})
                self.assertEqual(found, beside.get(key, {}))


class PluginThatCannotBeLoaded(unittest.TestCase):
    """The test build of Plugin.dll whose entry point fails while
    QUILLON_TEST_PLUGIN_LOAD_FAILS is set: NSIS sets the error flag and runs
    no export. Every condition is false, every macro gives its failure
    answer, and the registers and the script's stack stay as they were."""

    FAILED = {"find": "", "find_into_r0": "", "version": "", "dir": "", "file": "",
              "str": "0", "dword": "0", "bin": "0", "value": "0", "key_into_r1": "0", "wait": ""}

    def test_every_macro_and_condition_fails_cleanly(self):
        work = work_root() / "failed-load"
        shutil.rmtree(work, ignore_errors=True)
        (work / "scratch").mkdir(parents=True)
        installer, result = compile_strict(
            HERE / "plugin_header_failed_load.nsi", work, "plugin_header_failed_load",
            {"KEY": SWITCH_KEY + r"\FailedLoad", "WORK_DIR": nsis_harness.windows_path(work / "scratch"),
             "SELF": "plugin_header_failed_load.exe"},
            plugin_dir=pathlib.Path(ARGS.plugin_dir) / "failing-load")
        lines = nsis_harness.run_installer(installer, result, env={"QUILLON_TEST_PLUGIN_LOAD_FAILS": "1"},
                                           timeout=CASE_LIMIT * 2)
        self.assertIsNotNone(lines, "the installer wrote no result")
        self.assertEqual(lines[-1], "done")
        cases = parse_lines(lines)
        expected = dict(self.FAILED, if_running=FORMS_FALSE, if_64bit=FORMS_FALSE)
        self.assertEqual(set(cases), set(expected))
        for name, out in expected.items():
            with self.subTest(call=name):
                self.assertEqual(cases[name]["out"], out)
                self.assertEqual(cases[name]["changed"], " errors")
                self.assertEqual(cases[name]["stack"], SCRIPT_STACK)
        self.assertEqual(list((work / "scratch").iterdir()), [], "something was created")


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
