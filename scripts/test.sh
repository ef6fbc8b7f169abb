#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test under Wine, first in a
# 64-bit Windows prefix (WOW64, two registry views) and then in a 32-bit one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build="${QUILLON_BUILD_DIR:-$root/build}"
source "$root/scripts/wine-session.sh"

status=0
for arch in win64 win32; do
  wine_session_start "$build/wine/$arch" "$arch"
  echo "== tests in a $arch prefix =="
  QUILLON_TEST_WINEARCH=$arch ctest --test-dir "$build" --output-on-failure ${QUILLON_CTEST_ARGS:-} || status=1
  wine_session_stop
done
exit $status
