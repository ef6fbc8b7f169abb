#!/usr/bin/env python3
"""A makensis-built installer calls the plug-in while a debug-output viewer
listens through the DBWIN protocol (dbwin_reader.exe, built with the tests);
the viewer must receive the plug-in's traces, text for text and in order.
Without a viewer the same installer must still do its work. A viewer started
while GetDllOwnerProcName's box is shown hears the scans that follow."""
import os
import pathlib
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).parent))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "e2e"))
import nsis_harness  # noqa: E402
from updater_e2e_test import Driver  # noqa: E402

ARGS = nsis_harness.ARGS
HERE = pathlib.Path(__file__).parent
KEY = r"Software\QuillonTests\Traces"


def write_traces(key):
    """What WriteRegStr /x86 HKCU key V text end writes: every popped text
    twice (popped, then read), the grammar's marks, and the key when created."""
    return ["/x86", "/x86", "IN /x86", "HKCU", "HKCU", "IN 1", key, key, "IN 1", "/SUB ",
            "V", "V", "IN 1", "/Key ", "text", "text", "IN 1", "/Key ", "end", "end", "IN 1", key]


def expected_traces():
    refused = ["/x86", "/x86", "IN /x86", "HKCU", "HKCU", "IN 1", KEY, KEY, "IN 1", "/SUB ",
               "V", "V", "IN 1", "/Key ", "", "", "IN para error "]
    deleted = ["/x86", "/x86", "IN /x86", "HKCU", "HKCU", "IN 1", KEY, KEY, "IN 1", KEY, "/SUB ",
               "V", "V", "IN 1", "V", "end", "end", "IN 1", "end", "32 bit Value"]
    return write_traces(KEY) + refused + deleted


class Traces(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        arch = nsis_harness.prefix_arch()
        cls.work = pathlib.Path(ARGS.work_dir)  # already one per prefix kind
        cls.installer, cls.result = nsis_harness.compile_installer(
            HERE / "traces.nsi", cls.work, ARGS.plugin_dir, "traces", {"KEY": KEY})

    def read_with_viewer(self):
        """Runs the installer under the viewer; gives back the installer's
        result lines and the texts the viewer received from it."""
        received = self.work / "received.txt"
        if received.exists():
            received.unlink()
        if self.result.exists():
            self.result.unlink()
        reader = pathlib.Path(ARGS.plugin_dir) / "dbwin_reader.exe"
        env = dict(os.environ, WINEDEBUG="-all")
        subprocess.run(["wine", str(reader), nsis_harness.windows_path(received),
                        nsis_harness.windows_path(self.installer), "/S"],
                       check=True, env=env, timeout=300, stdin=subprocess.DEVNULL)
        lines = received.read_text(encoding="ascii").splitlines()
        _, child, exit_code = lines[0].split("\t")
        self.assertEqual(exit_code, "0")
        texts = []
        for line in lines[1:]:
            pid, _, data = line.partition("\t")
            # Other programs of the prefix may write too; only the installer counts.
            if pid == child:
                texts.append(bytes.fromhex(data).decode("latin-1"))
        return self.result.read_text(encoding="utf-16").splitlines(), texts

    def test_a_viewer_receives_every_trace_in_order(self):
        lines, texts = self.read_with_viewer()
        self.assertEqual(lines[-1], "done")
        self.assertIn("delete=[1]", lines)
        self.assertEqual(texts, expected_traces())

    def test_without_a_viewer_the_calls_still_work(self):
        lines = nsis_harness.run_installer(self.installer, self.result)
        self.assertIsNotNone(lines, "the installer wrote no result")
        self.assertEqual(lines[-1], "done")
        self.assertIn("delete=[1]", lines)


class ViewerStartedDuringTheWait(unittest.TestCase):
    """GetDllOwnerProcName decides at each rescan whether anyone reads: a
    viewer started while the box waits for the user hears the next scan."""

    def test_the_scan_after_retry_is_heard(self):
        bin_dir = pathlib.Path(ARGS.plugin_dir)
        work = pathlib.Path(ARGS.work_dir) / "rescan"
        shutil.rmtree(work, ignore_errors=True)
        work.mkdir(parents=True)
        shutil.copy(bin_dir / "HeldModule.dll", work / "TracedHeld.dll")
        installer, result = nsis_harness.compile_installer(
            HERE / "traces_rescan.nsi", work, ARGS.plugin_dir, "traces_rescan", {"HELD_DLL": "TracedHeld.dll"})
        ready, received = work / "holder.ready", work / "received.txt"
        env = nsis_harness.wine_env()
        holder = nsis_harness.start_dll_holder(bin_dir, ready, nsis_harness.windows_path(work / "TracedHeld.dll"))
        running = driver = viewer = None
        try:
            self.assertTrue(nsis_harness.wait_for(ready.exists, 60), "the DLL holder did not start")
            running = subprocess.Popen(["wine", str(installer), "/S"], stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
            # Each answer is awaited for a bounded time: a silent driver fails the test.
            driver = Driver(bin_dir / "window_driver.exe")
            self.assertTrue(driver("msgbox 60000", timeout=90).startswith("caption=WRZ"),
                            "no box while the DLL is held")
            viewer = subprocess.Popen(["wine", str(bin_dir / "dbwin_reader.exe"), "--listen",
                                       nsis_harness.windows_path(received)], stdin=subprocess.DEVNULL,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
            listening = pathlib.Path(str(received) + ".listening")
            self.assertTrue(nsis_harness.wait_for(listening.exists, 60), "the viewer did not start")
            pathlib.Path(str(ready) + ".stop").touch()
            nsis_harness.end_processes(holder)
            holder = None
            self.assertEqual(driver("press 4"), "ok")  # Retry: the next scan finds no owner and returns
            self.assertEqual(running.wait(timeout=60), 0)
        finally:
            pathlib.Path(str(ready) + ".stop").touch()
            pathlib.Path(str(received) + ".stop").touch()
            if driver:
                driver.close()
            if running and running.poll() is None:
                running.kill()
            nsis_harness.end_processes(holder, viewer)
        lines = result.read_text(encoding="utf-16").splitlines()
        self.assertEqual(lines[-1], "done")
        pid = lines[0].split("=", 1)[1]
        texts = [bytes.fromhex(data).decode("latin-1") for line in received.read_text(encoding="ascii").splitlines()[1:]
                 for writer, _, data in [line.partition("\t")] if writer == pid]
        # The first scan, before the viewer, is not heard; the one after Retry
        # is, whole. Its message is the lead-in, if the prefix has one, and the
        # blank line before the (empty) list of owners.
        self.assertEqual(texts[:4], ["GetDllOwnerProcName::param", "TracedHeld.dll", "In GetDllOwnerNameList",
                                     "In GetDllOwnerList"])
        self.assertEqual(len(texts), 5, texts)
        self.assertTrue(texts[4].endswith("\n\n"), texts[4])


if __name__ == "__main__":
    nsis_harness.main()
