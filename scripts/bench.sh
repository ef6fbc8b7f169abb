#!/usr/bin/env bash
# Sets up the machine, builds, and runs the benchmarks once under Wine in a
# 64-bit and then in a 32-bit prefix of their own, printing each figure with
# its baseline, the ratio ours / baseline and the goal. The header names the
# machine kind (native or emulated i386: figures of the two kinds do not
# compare) and the load; each prefix's table names them again with its date.
# Extra arguments go to bench/run_benchmarks.py (e.g. --only verdict).
# QUILLON_BENCH_ARCHS chooses the prefixes (default "win64 win32").
set -euo pipefail
source "$(dirname "$0")/preamble.sh"
quillon_preamble
source "$root/scripts/wine-session.sh"

echo "=== benchmarks: $(python3 "$root/bench/run_benchmarks.py" --describe-machine) ==="
status=0
for arch in ${QUILLON_BENCH_ARCHS:-win64 win32}; do
  echo "=== $arch prefix ==="
  wine_session_start "$build/wine/bench-$arch" "$arch"
  QUILLON_TEST_WINEARCH="$arch" python3 "$root/bench/run_benchmarks.py" --bin-dir "$build/bin" \
    --work-dir "$build/bench-work/$arch" "$@" || status=$?
  wine_session_stop
done
exit $status
