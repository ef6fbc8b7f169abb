#!/usr/bin/env python3
"""A whole update of the token software under Wine, told as it happens.

    update_demo.py --build-dir BUILD --prefix PREFIX --arch win64|win32 \
                   --work-dir DIR --screenshots-dir DIR

The Wine session for PREFIX must be running (scripts/demo.sh starts it with
scripts/wine-session.sh). The prefix is the demo's own: the demo installs the
product into it, trusts its own test CA there and writes the product key.

What happens:
  1. A throw-away CA stands in for the vendor's code-signing certificate.
  2. makensis builds the update installer (demo/installer/product_update.nsi,
     which uses Plugin.dll); it is signed and published with
     tools/publish_update.py into the folder nginx serves, with the
     announcement (version and SHA-256) signed by the vendor's certificate.
     Then the server's copy of the installer is damaged: one byte changed, as
     a botched copy to the server or an intruder would leave it.
  3. Debian's nginx serves that folder over HTTPS, configured as
     docs/nginx/quillon-updates.conf shows, with a certificate for 'localhost'
     from a CA of the demo's own (plain HTTP redirects to HTTPS). The
     installer goes out slowly, so that the dialog can be seen mid-way.
  4. Version 3 of the product is "installed": the signed Quillon.exe, the
     language library, the product's program TokenManager.exe and its DLL
     R7Token.dll, the lead-in texts of the installer's prompt, the product key.
     Both CAs are trusted in the demo's prefix, and nowhere else.
  5. TokenManager.exe runs and keeps R7Token.dll loaded.
  6. An attacker who controls the server but not the vendor's key edits the
     announcement: version 10 and the SHA-256 of a file of their own. Quillon
     refuses it, fetches nothing more and offers Retry; the user cancels, and
     the operator puts the genuine announcement back.
  7. Quillon.exe runs again, finds version 9 under the vendor's signature and
     downloads the damaged installer: Quillon refuses it and offers Retry. The
     operator publishes the genuine installer again with
     tools/publish_update.py; the demo presses Retry, the genuine installer
     arrives, and Quillon checks it and starts it.
  8. The installer stops at its Retry/Cancel box while R7Token.dll is in use;
     the demo ends TokenManager.exe and presses Retry, as a user would.
  9. The installer records version 9; the registry is read back.
 10. Quillon.exe runs again and says the software is up to date.

The steps live in steps/, in the groups a reader sees: the prefix and the
server (steps/prefix_and_server.py), publishing (steps/publishing.py) and the
windows (steps/windows.py); STEPS below runs them in the order above.

Exit code 0 when every step happened, 1 otherwise (the failed step is named),
130 when interrupted with Ctrl-C; whatever the demo started is ended in every case.
"""
import argparse
import os
import pathlib
import signal
import subprocess
import sys

from steps import prefix_and_server, publishing, windows
from steps.common import Account, Demo, DemoFailed


def tell_the_end(demo):
    demo.account.begin("Done: the whole update happened.")
    demo.account.detail(f"Screenshots: {demo.shots}")
    for shot in sorted(demo.shots.glob("*.png")):
        demo.account.detail(f"  {shot.name}")


# Each step takes the Demo, says what it does, and raises DemoFailed when
# what it waits for does not happen.
STEPS = [
    publishing.make_authority,
    publishing.build_installer,
    publishing.publish,
    publishing.damage_published_installer,
    prefix_and_server.start_server,
    prefix_and_server.install_product,
    prefix_and_server.start_product,
    windows.edited_announcement_refused,  # an attacker's announcement refused, the genuine one put back
    windows.first_run,            # the damaged copy refused, the genuine one started
    windows.installer_waits,
    windows.installer_finishes,
    prefix_and_server.check_registry,
    windows.second_run,
    tell_the_end,
]


def close(demo):
    """Ends what the demo started, whatever state it is in."""
    windows.close_windows(demo)
    prefix_and_server.end_product_and_server(demo)


_interrupted = False


def _on_interrupt(*_):
    global _interrupted
    _interrupted = True
    raise KeyboardInterrupt


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--arch", choices=("win64", "win32"), required=True)
    parser.add_argument("--work-dir", required=True)
    parser.add_argument("--screenshots-dir", required=True)
    args = parser.parse_args()
    os.environ["WINEPREFIX"] = str(pathlib.Path(args.prefix).resolve())
    os.environ.setdefault("WINEDEBUG", "-all")
    # A TERM from outside ends the demo through the same clean-up as Ctrl-C.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    signal.signal(signal.SIGINT, _on_interrupt)

    account = Account()
    demo = Demo(args, account)
    try:
        try:
            for step in STEPS:
                step(demo)
            return 0
        # A tool that fails (openssl, osslsigncode), is missing or ends
        # before its answer is a failed step too, named as one.
        except (DemoFailed, AssertionError, subprocess.SubprocessError, OSError) as failure:
            # Ctrl-C reaches the programs the demo runs as well, and one of
            # them may fail from it first: that is an interruption, not a
            # failed step.
            if _interrupted:
                raise KeyboardInterrupt from failure
            print(f"\nDEMO FAILED at \"{account.step}\":\n  {failure}", file=sys.stderr, flush=True)
            return 1
    except KeyboardInterrupt:
        print(f"\nDemo interrupted at \"{account.step}\"; everything it started is being ended",
              file=sys.stderr, flush=True)
        return 130
    finally:
        close(demo)


if __name__ == "__main__":
    sys.exit(main())
