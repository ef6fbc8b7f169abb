#!/usr/bin/env bash
# Sets up the machine, builds, and runs the benchmarks once under Wine in a
# 64-bit prefix of their own, printing each figure with its baseline, the
# ratio ours / baseline and the goal. Extra arguments go to
# bench/run_benchmarks.py (e.g. --only verdict).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build="${QUILLON_BUILD_DIR:-$root/build}"
source "$root/scripts/wine-session.sh"

wine_session_start "$build/wine/bench-win64" win64
python3 "$root/bench/run_benchmarks.py" --bin-dir "$build/bin" --work-dir "$build/bench-work" "$@"
