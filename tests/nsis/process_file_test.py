#!/usr/bin/env python3
"""A makensis-built installer finds a running program with FindProc, is held
by GetDllOwnerProcName while a program keeps a DLL loaded and goes on after
Retry once it has ended, and creates a shared directory and file with
RWCreate. Every wait is bounded.

A 64-bit installer sees programs of both kinds: a 32-bit and a 64-bit
holder of a DLL of one name run, each under a name of its own, and the
installer finds both and waits for both."""
import pathlib
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import nsis_harness  # noqa: E402

ARGS = nsis_harness.ARGS
HERE = pathlib.Path(__file__).parent


class ProcessAndFileUtilities(unittest.TestCase):
    def setUp(self):
        self.work = pathlib.Path(ARGS.work_dir)
        shutil.rmtree(self.work, ignore_errors=True)
        self.work.mkdir(parents=True)
        bin_dir = pathlib.Path(ARGS.plugin_dir)
        self.dll = self.work / "InstallerHeld.dll"
        shutil.copy(bin_dir / "HeldModule.dll", self.dll)
        self.ready = self.work / "holder.ready"
        self.shared = self.work / "shared"
        self.waiting = self.work / "installer.waiting"
        self.prompt_text = self.work / "prompt.txt"
        defines = {"RUNNING_PROGRAM": "dllholder.EXE", "HELD_DLL": self.dll.name,
                   "WAITING_FILE": nsis_harness.windows_path(self.waiting),
                   "SHARED_DIR": nsis_harness.windows_path(self.shared)}
        if nsis_harness.installers_are_64bit():
            defines["OTHER_PROGRAM"] = "DLLHOLDER64.exe"
        self.installer, self.result = nsis_harness.compile_installer(
            HERE / "process_file.nsi", self.work, ARGS.plugin_dir, "process-file", defines)
        self.holders = []
        self.start_holder(bin_dir, self.ready, self.dll)
        if nsis_harness.installers_are_64bit():
            # The 64-bit holder under a name of its own, holding the 64-bit
            # build of the DLL under the same name.
            own = nsis_harness.target_bin_dir()
            (self.work / "amd64").mkdir()
            dll64 = self.work / "amd64" / self.dll.name
            shutil.copy(own / "HeldModule.dll", dll64)
            holder64 = self.work / "DllHolder64.exe"
            shutil.copy(own / "DllHolder.exe", holder64)
            self.start_holder(bin_dir, self.work / "holder64.ready", dll64, program=holder64)
        self.run_installer = None

    def start_holder(self, bin_dir, ready, dll, program=None):
        """Starts a DLL holder, ended by its stop file at the end of the test
        whatever fails after it has started."""
        holder = nsis_harness.start_dll_holder(bin_dir, ready, nsis_harness.windows_path(dll), program=program)
        self.addCleanup(nsis_harness.end_processes, holder)
        self.addCleanup(pathlib.Path(str(ready) + ".stop").touch)
        self.holders.append((ready, holder))

    def tearDown(self):
        # A box left open is cancelled; the holders end in their clean-ups,
        # after this.
        if self.run_installer and self.run_installer.poll() is None:
            self.answer("cancel", 10000)
        nsis_harness.end_processes(self.run_installer)

    def answer(self, button, timeout_ms):
        return nsis_harness.answer_prompt(ARGS.plugin_dir, button, timeout_ms, self.prompt_text)

    def test_installer_finds_waits_and_creates(self):
        for ready, _ in self.holders:
            self.assertTrue(nsis_harness.wait_for(ready.exists, 60), f"the DLL holder of {ready.name} did not start")
        self.run_installer = subprocess.Popen(
            ["wine", str(self.installer), "/S"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=nsis_harness.wine_env())
        self.assertTrue(nsis_harness.wait_for(self.waiting.exists, 60), "the installer did not reach GetDllOwnerProcName")

        # Held: the installer stays in the call while the holder runs.
        time.sleep(3)
        self.assertIsNone(self.run_installer.poll(), "the installer went on while the DLL was loaded")
        self.assertFalse(self.result.exists())

        for ready, holder in self.holders:
            pathlib.Path(str(ready) + ".stop").touch()
            holder.wait(timeout=30)
        self.assertEqual(self.answer("retry", 30000), 0, "no prompt captioned WRZ appeared")
        text = self.prompt_text.read_text(encoding="utf-16")
        self.assertIn("\\DllHolder.exe".lower(), text.lower())
        if nsis_harness.installers_are_64bit():
            self.assertIn(nsis_harness.windows_path(self.work / "DllHolder64.exe").lower(), text.lower())
        self.assertTrue(text.startswith("\n\n") or text.startswith("\r\n"), repr(text))

        self.assertEqual(self.run_installer.wait(timeout=60), 0)
        lines = self.result.read_text(encoding="utf-16").splitlines()
        shared_file = nsis_harness.windows_path(self.shared) + "\\shared.txt"
        found = ["running=[1]", "missing=[0]"] + (["other=[1]"] if nsis_harness.installers_are_64bit() else [])
        self.assertEqual(lines, found + ["owner=[untouched]", "dir=[1]", f"file=[{shared_file}]", "parentless=[]"])
        self.assertTrue(self.shared.is_dir())
        self.assertEqual((self.shared / "shared.txt").stat().st_size, 0)


if __name__ == "__main__":
    nsis_harness.main()
