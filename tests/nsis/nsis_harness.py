"""Builds NSIS installers that load Plugin.dll and runs them silently under Wine.

The script gets PLUGIN_DIR and RESULT_FILE (a Windows path) defined; what it
writes to RESULT_FILE comes back as the run's result. With --target
amd64-unicode the installers are 64-bit: the script gets TARGET defined too,
and the 64-bit plug-in and helper programs are in PLUGIN_DIR/amd64-unicode.
"""
import argparse
import os
import pathlib
import re
import subprocess
import sys
import time
import unittest

# Where the plug-in is, where installers are built and for which NSIS target;
# filled in by main() before any test runs.
ARGS = argparse.Namespace(plugin_dir=None, work_dir=None, target="x86-unicode")
AMD64 = "amd64-unicode"


def main():
    """Reads --plugin-dir, --work-dir and --target, then runs the calling script's tests."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--plugin-dir", required=True)
    parser.add_argument("--work-dir", required=True)
    parser.add_argument("--target", choices=("x86-unicode", AMD64), default="x86-unicode")
    args, rest = parser.parse_known_args()
    # The two prefixes run at the same time from one build tree: each has a
    # work folder of its own.
    arch = os.environ.get("QUILLON_TEST_WINEARCH", "win64")
    ARGS.plugin_dir, ARGS.work_dir = args.plugin_dir, str(pathlib.Path(args.work_dir) / arch)
    ARGS.target = args.target
    unittest.main(module="__main__", argv=[sys.argv[0]] + rest, verbosity=2)


def installers_are_64bit():
    return ARGS.target == AMD64


def target_bin_dir():
    """The folder of the plug-in and the helper programs of the installers' kind."""
    plugin_dir = pathlib.Path(ARGS.plugin_dir)
    return plugin_dir / AMD64 if installers_are_64bit() else plugin_dir


def target_defines():
    """What makensis needs to build for the target: nothing for 32-bit installers."""
    return [f"-DTARGET={ARGS.target}"] if installers_are_64bit() else []


def windows_path(path):
    """Wine maps the Unix root to drive Z:."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def compile_installer(script, work_dir, plugin_dir, name, defines=None):
    work_dir = pathlib.Path(work_dir)
    work_dir.mkdir(parents=True, exist_ok=True)
    installer = work_dir / f"{name}.exe"
    result = work_dir / f"{name}.result"
    args = ["makensis", "-V2", f"-DPLUGIN_DIR={plugin_dir}", f"-DOUT_FILE={installer}",
            f"-DRESULT_FILE={windows_path(result)}", *target_defines()]
    args += [f"-D{k}={v}" for k, v in (defines or {}).items()]
    subprocess.run(args + [str(script)], check=True)
    return installer, result


def run_installer(installer, result, env=None, timeout=120):
    """Runs the installer silently; gives back the lines it wrote, or None."""
    if result.exists():
        result.unlink()
    run_env = dict(os.environ)
    run_env.setdefault("WINEDEBUG", "-all")
    run_env.update(env or {})
    # The installer's exit code is 0 unless the script calls Abort.
    subprocess.run(["wine", str(installer), "/S"], check=True, env=run_env, timeout=timeout)
    if not result.exists():
        return None
    return result.read_text(encoding="utf-16").splitlines()


def wine_reg(*args):
    """reg.exe of the current prefix."""
    return subprocess.run(["wine", "reg", *args], capture_output=True, text=True, errors="replace")


def read_registry_tree(key, view, root="HKLM"):
    """Keys below root\\key in one view (32 or 64), as paths relative to key
    ("" for key itself) -> {value name: (type, data)}."""
    out = wine_reg("query", root + "\\" + key, "/s", f"/reg:{view}")
    leaf = re.escape(key.rsplit("\\", 1)[-1])
    keys, current = {}, None
    for line in out.stdout.splitlines():
        line = line.rstrip("\r")
        if line.startswith("HKEY_"):
            match = re.search(r"\\" + leaf + r"(\\.*)?$", line, re.IGNORECASE)
            current = (match.group(1) or "").lstrip("\\") if match else None
            if current is not None:
                keys[current] = {}
        elif line.startswith("    ") and current is not None:
            parts = line[4:].split("    ", 2)
            keys[current][parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
    return keys


def remove_registry_key(key, parent):
    """Deletes HKLM\\key in both views, and parent too unless another test
    keeps something there."""
    for view in (32, 64):
        wine_reg("delete", "HKLM\\" + key, "/f", f"/reg:{view}")
        listing = wine_reg("query", "HKLM\\" + parent, f"/reg:{view}").stdout
        if not [line for line in listing.splitlines() if line.strip() and not line.startswith("HKEY_")]:
            wine_reg("delete", "HKLM\\" + parent, "/f", f"/reg:{view}")


def wine_env():
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    return env


def wait_for(predicate, timeout):
    """Polls predicate until it holds or timeout seconds have passed."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.2)
    return predicate()


def start_dll_holder(bin_dir, ready, dll, program=None):
    """DllHolder.exe of bin_dir (or the program given, a copy of one) holding
    dll (a Windows path) until ready + ".stop" appears; it writes ready once
    it holds the DLL."""
    program = program or pathlib.Path(bin_dir) / "DllHolder.exe"
    return subprocess.Popen(
        ["wine", str(program), windows_path(ready), "180000", dll],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=wine_env())


def answer_prompt(bin_dir, button, timeout_ms, prompt_text):
    """Presses retry or cancel on the plug-in's "WRZ" box and writes its text to
    prompt_text; 0 when a box was answered."""
    return subprocess.run(
        ["wine", str(pathlib.Path(bin_dir) / "PromptAnswerer.exe"), "WRZ", button, str(timeout_ms),
         windows_path(prompt_text)],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=wine_env(),
        timeout=timeout_ms / 1000 + 60).returncode


def end_processes(*processes):
    """Waits for each process that was started (None: not started), killing one
    that does not end."""
    for process in processes:
        if process is None:
            continue
        try:
            process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=10)


def prefix_arch():
    """"win64" or "win32", the kind of prefix that runs the test; the test is
    skipped when nobody says."""
    arch = os.environ.get("QUILLON_TEST_WINEARCH")
    if arch not in ("win64", "win32"):
        raise unittest.SkipTest("QUILLON_TEST_WINEARCH not set")
    return arch
