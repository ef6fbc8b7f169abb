#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix the caller chose. CTest uses
# this as the emulator for the cross-built test programs.
set -eu
: "${WINEPREFIX:?set WINEPREFIX (scripts/test.sh does)}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
exec wine "$@"
