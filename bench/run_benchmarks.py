#!/usr/bin/env python3
"""Runs every benchmark once, under Wine in the prefix the caller has started
(scripts/bench.sh does), and prints each figure beside its baseline, the
ratio ours / baseline and the goal. Every figure is the median of at least
five runs, ours and the baseline measured in the same run on the same
machine.

  --only NAME   run one group: plugin-calls, registry-cost, process-queries,
                verdict, progress, footprint (may be given more than once)
"""
import argparse
import os
import pathlib
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "standins" / "update_server"))
import update_server  # noqa: E402

RUNS = 5
# A start takes a fifth of a second natively and moves by tens of percent with
# the load of the moment: more pairs than elsewhere.
VERDICT_RUNS = 21
NSIS_CALLS = 1000
VERSION_FILE = "WRZ_QVLVer.ini"
SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "crypt32.dll", "gdi32.dll",
    "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "psapi.dll",
    "shell32.dll", "shlwapi.dll", "urlmon.dll", "user32.dll", "version.dll",
    "wininet.dll", "wintrust.dll",
}


class Report:
    """Collects the figures and prints them as they come."""

    def __init__(self):
        self.rows = []

    def figure(self, name, ours, baseline, unit, goal):
        """goal None: a figure reported for the reader, with no goal."""
        ratio = ours / baseline if baseline else float("inf")
        if goal is None:
            holds = "no goal"
        else:
            holds = "holds" if ratio <= goal else "MISSED"
        self.rows.append((name, ours, baseline, unit, ratio, goal, holds))
        goal_text = "no goal" if goal is None else f"goal <= {goal}"
        print(f"{name}: ours {ours:.3f} {unit}, baseline {baseline:.3f} {unit}, "
              f"ratio {ratio:.2f} ({goal_text}) {holds}", flush=True)

    def note(self, text):
        self.rows.append((text,))
        print(f"  {text}", flush=True)

    def table(self):
        print("\n| figure | ours | baseline | ratio | goal | verdict |")
        print("|---|---|---|---|---|---|")
        for row in self.rows:
            if len(row) == 1:
                continue
            name, ours, baseline, unit, ratio, goal, holds = row
            goal_text = "-" if goal is None else f"<= {goal}"
            print(f"| {name} | {ours:.3f} {unit} | {baseline:.3f} {unit} | {ratio:.2f} | {goal_text} | {holds} |")
        notes = [row[0] for row in self.rows if len(row) == 1]
        if notes:
            print("\nNotes:")
            for text in notes:
                print(f"- {text}")


def wine(exe, *args, timeout=900):
    """Runs a bench program; gives back its FIGURE and NOTE lines."""
    completed = subprocess.run(["wine", str(exe), *map(str, args)], capture_output=True, text=True,
                               timeout=timeout, stdin=subprocess.DEVNULL)
    lines = [line.split("\t") for line in completed.stdout.splitlines()]
    figures = [line for line in lines if line[0] in ("FIGURE", "NOTE")]
    if completed.returncode != 0 or not figures:
        raise RuntimeError(f"{exe.name} failed ({completed.returncode}): {completed.stdout}{completed.stderr}")
    return figures


def windows_path(path):
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


# ---- 1. plug-in calls against NSIS's own instructions ----
# With a debug-output viewer listening every call writes its traces, and each
# trace waits for the viewer: fewer calls keep that run within minutes.
NSIS_CALLS_WITH_VIEWER = 100

# Each registry export's block, the built-in instruction's block, and the
# block that measures the setup both took off (None: no setup).
REGISTRY_BLOCKS = [
    ("WriteRegStr", "write_plugin", "write_builtin", None),
    ("WriteRegDWORD", "dword_plugin", "dword_builtin", None),
    ("WriteRegBin", "bin_plugin", "bin_builtin", None),
    ("DeleteRegValue", "delvalue_plugin", "delvalue_builtin", "write_builtin"),
    ("DeleteRegKey", "delkey_plugin", "delkey_builtin", "newkey_builtin"),
]


def time_blocks(bin_dir, work, calls, viewer):
    """Builds plugin_calls.nsi for calls calls a block and runs it RUNS times,
    under dbwin_reader.exe when viewer is set; gives back each run's
    milliseconds per call of every block, the empty loop taken off."""
    name = "plugin_calls_viewer" if viewer else "plugin_calls"
    installer, result = work / f"{name}.exe", work / f"{name}.result"
    subprocess.run(["makensis", "-V2", f"-DPLUGIN_DIR={bin_dir}", f"-DOUT_FILE={installer}",
                    f"-DRESULT_FILE={windows_path(result)}", f"-DCALLS={calls}",
                    str(ROOT / "bench" / "plugin_calls.nsi")], check=True)
    command = ["wine", str(installer), "/S"]
    if viewer:
        command = ["wine", str(bin_dir / "dbwin_reader.exe"), windows_path(work / "viewer.txt"),
                   windows_path(installer), "/S"]
    runs = []
    for _ in range(RUNS):
        if result.exists():
            result.unlink()
        subprocess.run(command, check=True, timeout=1800, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        blocks = {}
        for line in result.read_text(encoding="utf-16").splitlines():
            block, before, after = line.split()
            blocks[block] = (int(before), int(after))
        frequency = blocks.pop("frequency")[0]
        ms = {block: (after - before) * 1000.0 / frequency for block, (before, after) in blocks.items()}
        loop = ms["empty"]
        runs.append({block: (value - loop) / calls for block, value in ms.items()})
    return runs


def plugin_calls(report, bin_dir, work):
    work.mkdir(parents=True, exist_ok=True)
    for viewer in (False, True):
        runs = time_blocks(bin_dir, work, NSIS_CALLS_WITH_VIEWER if viewer else NSIS_CALLS, viewer)

        def median(block, setup=None):
            return statistics.median(run[block] - (run[setup] if setup else 0.0) for run in runs)

        suffix = ", a DBWIN viewer listening" if viewer else ""
        for export, ours, builtin, setup in REGISTRY_BLOCKS:
            report.figure(f"Plugin::{export} /x86 vs {export}{suffix} (ms/call)",
                          median(ours, setup), median(builtin, setup), "ms", None if viewer else 2.0)
        if viewer:
            continue
        report.figure("Plugin::IsSupport64 vs ${RunningX64} (ms/call)",
                      median("is64_plugin"), median("is64_builtin"), "ms", 1.5)
        report.figure("Plugin::GetSysVersion vs ${RunningX64} (ms/call)",
                      median("sysversion_plugin"), median("is64_builtin"), "ms", None)
        # Where a registry call's time goes: NSIS's own cost of calling a
        # plug-in export that does next to nothing (IsSupport64, 3-10 us of
        # work in process), and of pushing and popping six texts.
        report.note(f"NSIS's own cost of a plug-in call, the IsSupport64 block: {median('is64_plugin'):.3f} ms")
        report.note(f"six Push and six Pop in NSIS: {median('args_builtin'):.3f} ms")
        floor = median("is64_plugin") + median("args_builtin")
        for export, ours, builtin, setup in REGISTRY_BLOCKS:
            report.note(f"{export}: floor of any plug-in doing the built-in's work "
                        f"{(floor + median(builtin, setup)) / median(builtin, setup):.2f}x the built-in; "
                        f"ours beyond that floor {median(ours, setup) - floor - median(builtin, setup):.3f} ms")


def registry_cost(report, bin_dir):
    for line in wine(bin_dir / "registry_call_cost.exe"):
        if line[0] == "FIGURE":
            report.note(f"{line[1]}: {float(line[2]):.1f} against {float(line[3]):.1f}")
        else:
            report.note(f"{line[1]}: {float(line[2]):.1f}")


# ---- 2. process queries with many processes ----
def process_queries(report, bin_dir):
    per_process = {}
    for extra in (20, 100, 300):
        for line in wine(bin_dir / "process_query_cost.exe", extra, timeout=1800):
            if line[0] == "FIGURE":
                report.figure(line[1], float(line[2]), float(line[3]), line[4], 1.3)
            else:
                report.note(f"{line[1]}: {float(line[2]):.1f} {line[3]}".rstrip())
                for kind in ("owner scan per process", "owner scan baseline per process"):
                    if line[1].startswith(kind):
                        per_process[(kind, extra)] = float(line[2])
    for kind in ("owner scan per process", "owner scan baseline per process"):
        if (kind, 20) in per_process and (kind, 300) in per_process:
            report.note(f"{kind}: grows {per_process[(kind, 300)] / per_process[(kind, 20)]:.1f}x from 20 to 300 "
                        "extra processes (1.0x would be linear growth of the whole scan)")


# ---- 3. time to verdict ----
class Driver:
    """window_driver.exe: one command a line, one answer a line."""

    def __init__(self, exe):
        self.process = subprocess.Popen(["wine", str(exe)], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True, encoding="utf-8")

    def __call__(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        return self.process.stdout.readline().rstrip("\n")

    def close(self):
        try:
            self("quit")
        except (OSError, ValueError):
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()


# How often window_driver looks for the box while a start is timed. A start
# takes some 150-300 ms on a machine that runs 32-bit programs natively, so
# the driver's usual 50 ms would round each time by up to a third of the
# difference being measured; looking much more often would load the
# wineserver that both programs need.
VERDICT_POLL_MS = 10


def seconds_to_message_box(driver, command):
    """Starts command, waits until a message box is up, presses OK and waits
    for the program to end. The time runs from the start to the box."""
    start = time.monotonic()
    program = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    reply = driver(f"msgbox 60000 {VERDICT_POLL_MS}")
    elapsed = time.monotonic() - start
    if reply == "timeout":
        program.kill()
        raise RuntimeError(f"no message box from {command[1]}")
    driver("press 1")
    program.wait(timeout=60)
    return elapsed


def verdict(report, bin_dir, work):
    served = work / "served"
    shutil.rmtree(served, ignore_errors=True)
    served.mkdir(parents=True)
    (served / VERSION_FILE).write_text("[ServerSoftVersion]\r\nLatestVersion=7\r\n", encoding="ascii")
    server = update_server.start_server(served)
    driver = Driver(bin_dir / "window_driver.exe")
    prefix = pathlib.Path(os.environ["WINEPREFIX"])
    try:
        driver("kill-updaters")
        driver("product-clear")
        base = f"{server.url}/files"
        for command in ("product-dword DisplayVersion 7", f"product-sz SoftServerUrl {base}",
                        f"product-sz SoftServerUrl_X64 {base}"):
            if driver(command) != "ok":
                raise RuntimeError(f"window_driver: {command} failed")
        ours, floor = [], []
        quillon = ["wine", str(bin_dir / "Quillon.exe")]
        minimal = ["wine", str(bin_dir / "verdict_floor.exe"), f"{base}/{VERSION_FILE}"]
        # A whole start under emulation varies by a second or more on a busy
        # machine: more pairs than elsewhere, and the order inside a pair
        # swapped each time, so that neither side always runs second.
        for run in range(VERDICT_RUNS):
            for command in ((quillon, minimal) if run % 2 == 0 else (minimal, quillon)):
                (ours if command is quillon else floor).append(seconds_to_message_box(driver, command))
            # The updater removes its download folder itself; one that a run
            # left all the same would make the next run's clean-up dearer.
            for pattern in ("*/Temp/qvl*.tmp", "*/AppData/Local/Temp/qvl*.tmp"):
                for folder in (prefix / "drive_c" / "users").glob(pattern):
                    shutil.rmtree(folder, ignore_errors=True)
        report.figure(f"Quillon.exe start to \"SoftLatest\" box vs minimal fetch-and-box program, "
                      f"{os.environ.get('QUILLON_TEST_WINEARCH', 'win64')} (s)",
                      statistics.median(ours), statistics.median(floor), "s", 1.2)
        # The pairs' own ratios move less with the load of the moment than
        # the two medians taken apart.
        ratios = sorted(o / f for o, f in zip(ours, floor))
        report.note(f"verdict: median of the pairs' ratios {statistics.median(ratios):.2f}; each pair, lowest to "
                    f"highest: {', '.join(f'{r:.2f}' for r in ratios)}")
    finally:
        driver("product-clear")
        driver.close()
        server.stop()


# ---- 4. progress reports ----
def progress(report, bin_dir):
    for line in wine(bin_dir / "progress_report_cost.exe"):
        if line[0] == "FIGURE":
            report.figure(line[1], float(line[2]), float(line[3]), line[4], 2.0)
        else:
            report.note(f"{line[1]}: {float(line[2]):.1f} {line[3]}")


# ---- 5. footprint ----
def footprint(report, bin_dir):
    for name in ("Quillon.exe", "Plugin.dll"):
        path = bin_dir / name
        with tempfile.TemporaryDirectory() as scratch:
            stripped = pathlib.Path(scratch) / name
            subprocess.run(["i686-w64-mingw32-strip", "-o", str(stripped), str(path)], check=True)
            size = stripped.stat().st_size
        dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", str(path)], check=True, capture_output=True,
                              text=True).stdout
        imports = sorted({m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)})
        foreign = [dll for dll in imports if dll not in SYSTEM_DLLS]
        report.figure(f"{name} stripped size (KB, baseline = the 128 KB budget)", size / 1024, 128.0, "KB", 1.0)
        report.note(f"{name} imports {', '.join(imports)}: "
                    + ("system DLLs only" if not foreign else f"NOT system: {', '.join(foreign)}"))


GROUPS = ["footprint", "registry-cost", "plugin-calls", "process-queries", "verdict", "progress"]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin-dir", required=True)
    parser.add_argument("--work-dir", required=True)
    parser.add_argument("--only", action="append", choices=GROUPS)
    args = parser.parse_args()
    bin_dir, work = pathlib.Path(args.bin_dir), pathlib.Path(args.work_dir)
    report = Report()
    failed = []
    for group in args.only or GROUPS:
        print(f"== {group} ==", flush=True)
        try:
            if group == "footprint":
                footprint(report, bin_dir)
            elif group == "registry-cost":
                registry_cost(report, bin_dir)
            elif group == "plugin-calls":
                plugin_calls(report, bin_dir, work / "nsis")
            elif group == "process-queries":
                process_queries(report, bin_dir)
            elif group == "verdict":
                verdict(report, bin_dir, work / "verdict")
            elif group == "progress":
                progress(report, bin_dir)
        except (RuntimeError, subprocess.SubprocessError, OSError) as error:
            failed.append(group)
            print(f"{group} could not be measured: {error}", flush=True)
    report.table()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
