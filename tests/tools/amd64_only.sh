#!/usr/bin/env bash
# Runs a test of the 64-bit Plugin.dll, unless the test runs in a 32-bit
# Wine prefix, which cannot start 64-bit programs: then it says so and ends
# with 77, which CTest shows as a skipped test.
if [ "${QUILLON_TEST_WINEARCH:-}" = win32 ]; then
  echo "skipped: a 32-bit prefix runs no 64-bit programs"
  exit 77
fi
exec "$@"
