#!/usr/bin/env python3
"""A makensis-built installer finds a running program with FindProc, is held
by GetDllOwnerProcName while a program keeps a DLL loaded and goes on after
Retry once it has ended, and creates a shared directory and file with
RWCreate. Every wait is bounded."""
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
        self.installer, self.result = nsis_harness.compile_installer(
            HERE / "process_file.nsi", self.work, ARGS.plugin_dir, "process-file",
            {"RUNNING_PROGRAM": "dllholder.EXE", "HELD_DLL": self.dll.name,
             "WAITING_FILE": nsis_harness.windows_path(self.waiting),
             "SHARED_DIR": nsis_harness.windows_path(self.shared)})
        self.holder = nsis_harness.start_dll_holder(bin_dir, self.ready, nsis_harness.windows_path(self.dll))
        self.run_installer = None

    def tearDown(self):
        # The stop file ends the holder; a box left open is cancelled.
        pathlib.Path(str(self.ready) + ".stop").touch()
        if self.run_installer and self.run_installer.poll() is None:
            self.answer("cancel", 10000)
        nsis_harness.end_processes(self.run_installer, self.holder)

    def answer(self, button, timeout_ms):
        return nsis_harness.answer_prompt(ARGS.plugin_dir, button, timeout_ms, self.prompt_text)

    def test_installer_finds_waits_and_creates(self):
        self.assertTrue(nsis_harness.wait_for(self.ready.exists, 60), "the DLL holder did not start")
        self.run_installer = subprocess.Popen(
            ["wine", str(self.installer), "/S"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=nsis_harness.wine_env())
        self.assertTrue(nsis_harness.wait_for(self.waiting.exists, 60), "the installer did not reach GetDllOwnerProcName")

        # Held: the installer stays in the call while the holder runs.
        time.sleep(3)
        self.assertIsNone(self.run_installer.poll(), "the installer went on while the DLL was loaded")
        self.assertFalse(self.result.exists())

        pathlib.Path(str(self.ready) + ".stop").touch()
        self.holder.wait(timeout=30)
        self.assertEqual(self.answer("retry", 30000), 0, "no prompt captioned WRZ appeared")
        text = self.prompt_text.read_text(encoding="utf-16")
        self.assertIn("DllHolder.exe".lower(), text.lower())
        self.assertTrue(text.startswith("\n\n") or text.startswith("\r\n"), repr(text))

        self.assertEqual(self.run_installer.wait(timeout=60), 0)
        lines = self.result.read_text(encoding="utf-16").splitlines()
        shared_file = nsis_harness.windows_path(self.shared) + "\\shared.txt"
        self.assertEqual(lines, ["running=[1]", "missing=[0]", "owner=[untouched]", "dir=[1]",
                                 f"file=[{shared_file}]", "parentless=[]"])
        self.assertTrue(self.shared.is_dir())
        self.assertEqual((self.shared / "shared.txt").stat().st_size, 0)


if __name__ == "__main__":
    nsis_harness.main()
