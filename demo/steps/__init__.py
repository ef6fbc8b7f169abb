"""The steps of the update demo, in the groups a reader sees: the Wine prefix
and the update server (prefix_and_server), what the vendor and the operator
publish (publishing), and the windows of Quillon and of the installer
(windows). Each step is a function of the one Demo object (common); the
order in which they run is in update_demo.py."""
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
# What the demo shares with the tests: the code-signing stand-in, nginx, the
# window driver and the screenshots.
sys.path.insert(0, str(ROOT / "standins" / "code_signing"))
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
