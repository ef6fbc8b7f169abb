#!/usr/bin/env python3
"""Runs every benchmark once, under Wine in the prefix the caller has started
(scripts/bench.sh does), and prints each figure beside its baseline, the
ratio ours / baseline and the goal. Every figure is the median of at least
five runs, ours and the baseline measured in the same run on the same
machine, taking turns. The table at the end names the date, the prefix, the
machine kind (native or emulated i386), the load and the commit.

  --only NAME   run one group: plugin-calls, registry-cost, process-queries,
                verdict, signed-verdict, progress, footprint (may be given more
                than once)
  --describe-machine   print the date, machine kind, load and commit only
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
sys.path.insert(0, str(ROOT / "standins" / "code_signing"))
sys.path.insert(0, str(ROOT / "tools"))
import publish_update  # noqa: E402
import test_pki  # noqa: E402
import update_server  # noqa: E402

RUNS = 5
# A start takes a fifth of a second natively and moves by tens of percent with
# the load of the moment: more pairs than elsewhere.
VERDICT_RUNS = 21
NSIS_CALLS = 1000
VERSION_FILE = "WRZ_QVLVer.ini"
INSTALLER = "WRZ_QVL_Keyward_Install.exe"
SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "crypt32.dll", "gdi32.dll",
    "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "psapi.dll",
    "shell32.dll", "shlwapi.dll", "urlmon.dll", "user32.dll", "version.dll",
    "wininet.dll", "wintrust.dll",
}


def machine_kind():
    """How this machine runs Wine's 32-bit half: natively, or through qemu's
    user-mode emulator registered with binfmt_misc (scripts/enable-i386.sh),
    which then takes every 32-bit program even on a kernel that could run it."""
    binfmt = pathlib.Path("/proc/sys/fs/binfmt_misc")
    for entry in ("qemu-i386", "i386-linux"):
        try:
            if (binfmt / entry).read_text().splitlines()[0] == "enabled":
                return "emulated i386 (qemu-user)"
        except (OSError, IndexError):
            pass
    probe = subprocess.run(["/lib/ld-linux.so.2", "--version"], capture_output=True)
    return "native i386" if probe.returncode == 0 else "no 32-bit user space"


def load_average():
    """The 1-minute load average, as text."""
    return f"{os.getloadavg()[0]:.2f}"


def code_version():
    """The commit measured, marked when the work tree differs from it."""
    def git(*args):
        return subprocess.run(["git", "-C", str(ROOT), *args], capture_output=True, text=True).stdout.strip()
    commit = git("rev-parse", "--short", "HEAD") or "unknown"
    return commit + (" with uncommitted changes" if git("status", "--porcelain", "--untracked-files=no") else "")


def describe_run():
    """One line that says where and on what a table was measured."""
    arch = os.environ.get("QUILLON_TEST_WINEARCH", "win64")
    return (f"{time.strftime('%Y-%m-%d %H:%M', time.gmtime())} UTC, {arch} prefix, {machine_kind()}, "
            f"{os.cpu_count()} CPUs, commit {code_version()}")


class Report:
    """Collects the figures and prints them as they come."""

    def __init__(self):
        self.rows = []
        self.started = describe_run()
        self.load = [load_average()]

    def figure(self, name, ours, baseline, unit, goal, ratio=None, baseline_does_part=False):
        """goal None: a figure reported for the reader, with no goal. ratio:
        the ratio to judge, when it is not ours / baseline (the median of
        paired rounds' ratios). baseline_does_part: the baseline does a part
        of ours' work, so a ratio below 1 is the noise of the measurement and
        not a gain."""
        if ratio is None:
            ratio = ours / baseline if baseline else float("inf")
        if goal is None:
            holds = "no goal"
        else:
            holds = "holds" if ratio <= goal else "MISSED"
        if baseline_does_part and ratio < 1.0:
            holds += "; below 1 is noise: the baseline does part of ours' work"
        self.rows.append((name, ours, baseline, unit, ratio, goal, holds))
        goal_text = "no goal" if goal is None else f"goal <= {goal}"
        print(f"{name}: ours {ours:.3f} {unit}, baseline {baseline:.3f} {unit}, "
              f"ratio {ratio:.2f} ({goal_text}) {holds}", flush=True)

    def note(self, text):
        self.rows.append((text,))
        print(f"  {text}", flush=True)

    def group_done(self):
        self.load.append(load_average())

    def table(self):
        print(f"\nMeasured {self.started}; load average (1 minute) at the start and after each group: "
              f"{', '.join(self.load)}.")
        print("Ratio: the median of the pairs' own ratios where ours and the baseline took turns (plug-in calls, "
              "process queries, time to verdict), otherwise ours / baseline.")
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
# plugin_calls.nsi runs ROUNDS rounds of CALLS calls a block, the two blocks
# of a pair swapped from one round to the next. With a debug-output viewer
# listening every call writes its traces, and each trace waits for the
# viewer: fewer calls keep that run within minutes.
PLUGIN_ROUNDS = 20
PLUGIN_CALLS = 50
PLUGIN_CALLS_WITH_VIEWER = 5

# Each registry export's block, the built-in instruction's block, and the
# block of the same round that measures the setup both took off (None: no
# setup). The built-in DeleteRegKey deletes recursively, enumerating the
# sub-keys first: more work than the export's, so a ratio below 1 can be
# real there; every other built-in does part of what its export does.
REGISTRY_BLOCKS = [
    ("WriteRegStr", "write_plugin", "write_builtin", None),
    ("WriteRegDWORD", "dword_plugin", "dword_builtin", None),
    ("WriteRegBin", "bin_plugin", "bin_builtin", None),
    ("DeleteRegValue", "delvalue_plugin", "delvalue_builtin", "write_builtin"),
    ("DeleteRegKey", "delkey_plugin", "delkey_builtin", "newkey_builtin"),
]
BUILTIN_DOES_MORE = {"DeleteRegKey"}


def time_rounds(bin_dir, work, calls, viewer):
    """Builds plugin_calls.nsi and runs it RUNS times, under dbwin_reader.exe
    when viewer is set; gives back one dict per round of every run: block ->
    milliseconds per call, the round's empty loop taken off."""
    name = "plugin_calls_viewer" if viewer else "plugin_calls"
    installer, result = work / f"{name}.exe", work / f"{name}.result"
    subprocess.run(["makensis", "-V2", f"-DPLUGIN_DIR={bin_dir}", f"-DOUT_FILE={installer}",
                    f"-DRESULT_FILE={windows_path(result)}", f"-DCALLS={calls}", f"-DROUNDS={PLUGIN_ROUNDS}",
                    str(ROOT / "bench" / "plugin_calls.nsi")], check=True)
    command = ["wine", str(installer), "/S"]
    if viewer:
        command = ["wine", str(bin_dir / "dbwin_reader.exe"), windows_path(work / "viewer.txt"),
                   windows_path(installer), "/S"]
    rounds = []
    for _ in range(RUNS):
        if result.exists():
            result.unlink()
        subprocess.run(command, check=True, timeout=1800, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        lines = result.read_text(encoding="utf-16").splitlines()
        frequency = int(lines[0].split()[1])
        counts = {}
        for line in lines[1:]:
            block, number, before, after = line.split()
            counts.setdefault(int(number), {})[block] = (int(after) - int(before)) * 1000.0 / frequency / calls
        for blocks in counts.values():
            loop = blocks.pop("empty")
            rounds.append({block: ms - loop for block, ms in blocks.items()})
    return rounds


def plugin_calls(report, bin_dir, work):
    work.mkdir(parents=True, exist_ok=True)
    for viewer in (False, True):
        rounds = time_rounds(bin_dir, work, PLUGIN_CALLS_WITH_VIEWER if viewer else PLUGIN_CALLS, viewer)

        def per_round(block, setup=None):
            return [r[block] - (r[setup] if setup else 0.0) for r in rounds]

        def pair(ours, baseline, setup=None):
            """Medians of each side and the median of the rounds' own ratios."""
            o, b = per_round(ours, setup), per_round(baseline, setup)
            return statistics.median(o), statistics.median(b), statistics.median(x / y for x, y in zip(o, b))

        suffix = ", a DBWIN viewer listening" if viewer else ""
        for export, ours, builtin, setup in REGISTRY_BLOCKS:
            o, b, ratio = pair(ours, builtin, setup)
            report.figure(f"Plugin::{export} /x86 vs {export}{suffix} (ms/call)", o, b, "ms",
                          None if viewer else 1.5, ratio=ratio, baseline_does_part=export not in BUILTIN_DOES_MORE)
        if viewer:
            continue
        o, b, ratio = pair("is64_plugin", "is64_builtin")
        report.figure("Plugin::IsSupport64 vs ${RunningX64} (ms/call)", o, b, "ms", 1.5, ratio=ratio)
        o, b, ratio = pair("sysversion_plugin", "is64_builtin")
        report.figure("Plugin::GetSysVersion vs ${RunningX64} (ms/call)", o, b, "ms", None, ratio=ratio)
        # Where a registry call's time goes: NSIS's own cost of calling a
        # plug-in export that does next to nothing (IsSupport64, under 1 us
        # of work in process), and of pushing and popping six texts. Any
        # plug-in doing the built-in's work costs at least these on top.
        call = statistics.median(per_round("is64_plugin"))
        texts = statistics.median(per_round("args_builtin"))
        report.note(f"NSIS's own cost of a plug-in call, the IsSupport64 block: {call * 1000:.1f} us")
        report.note(f"six Push and six Pop in NSIS: {texts * 1000:.1f} us")
        floors = [r["is64_plugin"] + r["args_builtin"] for r in rounds]
        for export, ours, builtin, setup in REGISTRY_BLOCKS:
            o, b = per_round(ours, setup), per_round(builtin, setup)
            floor_ratio = statistics.median((f + y) / y for f, y in zip(floors, b))
            beyond = statistics.median(x - f - y for x, f, y in zip(o, floors, b))
            report.note(f"{export}: floor of any plug-in doing the built-in's work {floor_ratio:.2f}x the "
                        f"built-in; ours beyond that floor {beyond * 1000:.1f} us a call")


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
                report.figure(line[1], float(line[2]), float(line[3]), line[4], 1.3, baseline_does_part=True,
                              ratio=float(line[5]) if len(line) > 5 else None)
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
        # The pairs' own ratios move less with the load of the moment than
        # the two medians taken apart: their median is the ratio judged.
        ratios = sorted(o / f for o, f in zip(ours, floor))
        report.figure(f"Quillon.exe start to \"SoftLatest\" box vs minimal fetch-and-box program, "
                      f"{os.environ.get('QUILLON_TEST_WINEARCH', 'win64')} (s)",
                      statistics.median(ours), statistics.median(floor), "s", 1.2, baseline_does_part=True,
                      ratio=statistics.median(ratios))
        report.note(f"verdict: ratio of the two medians {statistics.median(ours) / statistics.median(floor):.2f}; "
                    f"each pair, lowest to highest: {', '.join(f'{r:.2f}' for r in ratios)}")
    finally:
        driver("product-clear")
        driver.close()
        server.stop()


# ---- 3b. a signed Quillon beside the unsigned one ----
def download_folders(prefix):
    return [folder for pattern in ("*/Temp/qvl*.tmp", "*/AppData/Local/Temp/qvl*.tmp")
            for folder in (prefix / "drive_c" / "users").glob(pattern)]


class TimedRequests(list):
    """The stand-in server's request log (server.requests), which also keeps
    the moment each request reached the server, in time.monotonic()."""

    def __init__(self):
        super().__init__()
        self.times = []

    def append(self, path):
        self.times.append((time.monotonic(), path))
        super().append(path)

    def first_after(self, start, path):
        """When path was first asked for after start; None if it was not."""
        return next((moment for moment, asked in self.times if asked == path and moment >= start), None)


def seconds_to_installer(driver, command, prefix, requests):
    """Starts command, an updater that will hand an installer (mark_file.exe)
    to the shell and end. Gives two times from its start: to its request for
    the installer at the server (requests, a TimedRequests), the moment it
    has judged the announcement and acts on it; and to its end, once the
    installer's mark shows that it ran."""
    start = time.monotonic()
    program = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        program.wait(timeout=60)
    except subprocess.TimeoutExpired:
        reply = driver("msgbox 0")
        program.kill()
        raise RuntimeError(f"{command[1]} did not start the installer: {reply}") from None
    elapsed = time.monotonic() - start
    deadline = time.monotonic() + 20
    while not any(folder.glob(f"{INSTALLER}.mark") for folder in download_folders(prefix)):
        if time.monotonic() > deadline:
            raise RuntimeError(f"{command[1]} ended but no installer ran")
        time.sleep(0.05)
    fetched = requests.first_after(start, f"/files/{INSTALLER}")
    if fetched is None:
        raise RuntimeError(f"{command[1]} started an installer it did not fetch")
    return fetched - start, elapsed


def signed_verdict(report, bin_dir, work):
    """The same build signed as a vendor ships it and unsigned as developers
    run it, side by side in folders of the same kind, each road timed in
    pairs that take turns. Up to date, the verdict is the "SoftLatest" box
    (the announcement is not checked there, since nothing is acted on). On
    an update, the verdict is the moment the updater has judged the
    announcement and asks the server for the installer: the signed one has
    read its own signature and checked the signed announcement by then, the
    unsigned one has read its own file. The whole update, to the installer
    handed to the shell (its download, hash and publisher check besides), is
    timed beside it."""
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    pki = test_pki.TestPki(work / "pki").make()
    updaters = {}
    for kind in ("signed", "unsigned"):
        folder = work / kind
        folder.mkdir()
        if kind == "signed":
            pki.sign("vendor", bin_dir / "Quillon.exe", folder / "Quillon.exe")
        else:
            shutil.copy(bin_dir / "Quillon.exe", folder / "Quillon.exe")
        shutil.copy(bin_dir / "R7Glossa_WRZ.dll", folder)
        updaters[kind] = ["wine", str(folder / "Quillon.exe")]
    installer = pki.sign("vendor", bin_dir / "mark_file.exe", work / "installer.exe")
    signing = {"cert": pki.dir / "vendor.pem", "key": pki.dir / "vendor.key"}
    served = work / "served"
    publish_update.publish(installer, 7, served, signing)  # the stand-in serves it under /files
    prefix = pathlib.Path(os.environ["WINEPREFIX"])
    server = update_server.start_server(served)
    server.requests = TimedRequests()
    driver = Driver(bin_dir / "window_driver.exe")

    def trust_root(action):
        # Output through a file: a Wine service that the crypto starts on
        # first use would hold a pipe open.
        with tempfile.TemporaryFile("w+", encoding="utf-8") as output:
            subprocess.run(["wine", str(bin_dir / "trust_root.exe"), action, windows_path(pki.ca_der)],
                           stdout=output, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=120)
            output.seek(0)
            return output.read().strip()

    try:
        if trust_root("add") != "ok":
            raise RuntimeError("trust_root.exe could not trust the test root")
        driver("kill-updaters")
        driver("product-clear")
        base = f"{server.url}/files"
        for command in (f"product-sz SoftServerUrl {base}", f"product-sz SoftServerUrl_X64 {base}"):
            if driver(command) != "ok":
                raise RuntimeError(f"window_driver: {command} failed")
        arch = os.environ.get("QUILLON_TEST_WINEARCH", "win64")
        # Each road gives one time or more per start, named here in order
        # with its goal: the goal is on the verdict; the whole update
        # (the installer's download and its checks besides) is shown beside.
        roads = ((7, (("up to date: start to the verdict, the \"SoftLatest\" box", 1.1),),
                  lambda c: (seconds_to_message_box(driver, c),)),
                 (3, (("update: start to the verdict, the installer's request at the server", 1.1),
                      ("update: start to the installer handed to the shell", None)),
                  lambda c: seconds_to_installer(driver, c, prefix, server.requests)))
        for installed, names, measure in roads:
            if driver(f"product-dword DisplayVersion {installed}") != "ok":
                raise RuntimeError("window_driver: cannot write DisplayVersion")
            times = {"signed": [], "unsigned": []}
            for run in range(VERDICT_RUNS):
                for kind in (("signed", "unsigned") if run % 2 == 0 else ("unsigned", "signed")):
                    times[kind].append(measure(updaters[kind]))
                for folder in download_folders(prefix):
                    shutil.rmtree(folder, ignore_errors=True)
            for index, (road, goal) in enumerate(names):
                signed = [t[index] for t in times["signed"]]
                unsigned = [t[index] for t in times["unsigned"]]
                ratios = sorted(s / u for s, u in zip(signed, unsigned))
                report.figure(f"signed Quillon.exe vs the same unsigned, {road}, {arch} (s)",
                              statistics.median(signed), statistics.median(unsigned), "s", goal,
                              baseline_does_part=True, ratio=statistics.median(ratios))
                report.note(f"signed vs unsigned, {road}: each pair, lowest to highest: "
                            f"{', '.join(f'{r:.2f}' for r in ratios)}")
        # Where the difference goes, check by check, in one process each:
        # in the order of an update, then with the trusted roots opened first.
        version_file = work / "announcement.ini"
        shutil.copy(served / VERSION_FILE, version_file)
        paths = [windows_path(p) for p in (work / "signed" / "Quillon.exe", work / "unsigned" / "Quillon.exe",
                                           version_file, installer)]
        for options in ([], ["--root-store-first"]):
            for line in wine(bin_dir / "announcement_cost.exe", *options, *paths):
                report.note(f"{line[1]}{' (roots opened first)' if options else ''}: {float(line[2]):.1f} {line[3]}")
    finally:
        driver("product-clear")
        driver.close()
        server.stop()
        trust_root("remove")


# ---- 4. progress reports ----
def progress(report, bin_dir):
    for line in wine(bin_dir / "progress_report_cost.exe"):
        if line[0] == "FIGURE":
            report.figure(line[1], float(line[2]), float(line[3]), line[4], 2.0, baseline_does_part=True)
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


GROUPS = ["footprint", "registry-cost", "plugin-calls", "process-queries", "verdict", "signed-verdict", "progress"]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin-dir")
    parser.add_argument("--work-dir")
    parser.add_argument("--only", action="append", choices=GROUPS)
    parser.add_argument("--describe-machine", action="store_true",
                        help="print the machine kind and the load, and measure nothing")
    args = parser.parse_args()
    if args.describe_machine:
        print(f"{time.strftime('%Y-%m-%d %H:%M', time.gmtime())} UTC; {machine_kind()}, {os.cpu_count()} CPUs; "
              f"load average {' '.join(f'{x:.2f}' for x in os.getloadavg())} (1, 5, 15 minutes); "
              f"commit {code_version()}")
        return 0
    if not args.bin_dir or not args.work_dir:
        parser.error("--bin-dir and --work-dir are needed to measure")
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
            elif group == "signed-verdict":
                signed_verdict(report, bin_dir, work / "signed-verdict")
            elif group == "progress":
                progress(report, bin_dir)
        except (RuntimeError, subprocess.SubprocessError, OSError) as error:
            failed.append(group)
            print(f"{group} could not be measured: {error}", flush=True)
        report.group_done()
    report.table()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
