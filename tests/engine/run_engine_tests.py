#!/usr/bin/env python3
"""Starts the stand-in update server on loopback, runs engine_tests.exe under
Wine with the server's address in QUILLON_UPDATE_SERVER and the served
directory in QUILLON_SERVED_DIR, and stops the server again."""
import argparse
import os
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "standins" / "update_server"))
sys.path.insert(0, str(ROOT / "tests" / "nsis"))
import update_server  # noqa: E402
from nsis_harness import windows_path  # noqa: E402

RUN_TIMEOUT = 240  # seconds; the program itself bounds every wait far below this


def fill_served_dir(served):
    served.mkdir(parents=True, exist_ok=True)
    (served / "WRZ_QVLVer.ini").write_text("[ServerSoftVersion]\r\nLatestVersion=7\r\n", encoding="ascii")
    (served / "WRZ_QVL_Keyward_Install.exe").write_bytes(update_server.pattern_bytes(0, 300 * 1024))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--served-dir", required=True)
    args, rest = parser.parse_known_args()
    # One served folder per prefix: the two prefixes run at the same time.
    served = pathlib.Path(args.served_dir) / os.environ.get("QUILLON_TEST_WINEARCH", "win64")
    fill_served_dir(served)
    server = update_server.start_server(served)
    env = dict(os.environ, QUILLON_UPDATE_SERVER=server.url, QUILLON_SERVED_DIR=windows_path(served))
    env.setdefault("WINEDEBUG", "-all")
    try:
        completed = subprocess.run(["wine", args.exe] + rest, env=env, timeout=RUN_TIMEOUT,
                                   stdin=subprocess.DEVNULL)
        return completed.returncode
    except subprocess.TimeoutExpired:
        print(f"engine_tests did not end within {RUN_TIMEOUT} s", file=sys.stderr)
        return 1
    finally:
        server.stop()


if __name__ == "__main__":
    sys.exit(main())
