#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test under Wine in a 64-bit
# Windows prefix (WOW64, two registry views) and in a 32-bit one. The tests
# labelled "host" run no Windows code and give the same answer in either
# prefix: they run once, with the 64-bit prefix's tests. The tests labelled
# "amd64", of the plug-in for 64-bit installers, need 64-bit Windows: the
# 32-bit prefix reports them as skipped.
#
# The two prefixes run at the same time: each has its own wineserver and Xvfb
# display, and the tests keep their work folders per prefix, so the only thing
# they share is the build tree they read. Each prefix's lines are labelled as
# they come; both CTest summaries are repeated at the end.
#
# QUILLON_TEST_SERIAL=1 runs the prefixes one after the other instead.
set -euo pipefail
source "$(dirname "$0")/preamble.sh"
quillon_preamble
logs="$build/test-logs"
mkdir -p "$logs"

# run_prefix ARCH: one CTest run in that prefix, its output in $logs/ARCH.log.
# Runs as a background job, so the Wine session it sources is its own.
run_prefix() {
  local arch=$1 selection=()
  [ "$arch" = win64 ] || selection=(--label-exclude host)
  exec >"$logs/$arch.log" 2>&1
  source "$root/scripts/wine-session.sh"
  wine_session_start "$build/wine/$arch" "$arch"
  echo "== tests in a $arch prefix =="
  QUILLON_TEST_WINEARCH=$arch ctest --test-dir "$build" --output-on-failure "${selection[@]}" \
    ${QUILLON_CTEST_ARGS:-}
}

# Ctrl-C or a TERM ends every job of this run: CTest, Wine, Xvfb.
trap 'trap - INT TERM; kill 0 2>/dev/null; exit 130' INT TERM

archs=(win64 win32)
status=0
if [ -n "${QUILLON_TEST_SERIAL:-}" ]; then
  for arch in "${archs[@]}"; do
    run_prefix "$arch" & wait $! || status=1
    cat "$logs/$arch.log"
  done
else
  pids=()
  for arch in "${archs[@]}"; do
    : >"$logs/$arch.log"
    run_prefix "$arch" &
    pids+=($!)
    # Follow the log until that run ends, each line labelled with its prefix.
    tail -n +1 -f --pid=$! "$logs/$arch.log" | sed -u "s/^/[$arch] /" &
  done
  for pid in "${pids[@]}"; do
    wait "$pid" || status=1
  done
  wait
fi

echo
echo "== summary =="
for arch in "${archs[@]}"; do
  echo "-- $arch: $(grep -E 'tests passed|tests failed' "$logs/$arch.log" | tail -n 1)"
  grep -E '^\s+[0-9]+ - .*\((Failed|Timeout|Not Run|SEGFAULT|Exception)' "$logs/$arch.log" | sed 's/^/   /' || true
  skipped=$(grep -E '^\s+[0-9]+ - .*\(Skipped\)' "$logs/$arch.log" | sed -E 's/^\s+[0-9]+ - //; s/ \(Skipped\)$//' |
            tr '\n' ' ' || true)
  [ -z "$skipped" ] || echo "   skipped: $skipped"
done
exit $status
