#!/usr/bin/env bash
# Runs a whole update of the token software under Wine, and tells each step as
# it happens: Quillon.exe finds a newer version on a local nginx that serves
# the update over HTTPS, downloads and checks the signed installer, which uses
# Plugin.dll, and the installer records the new version.
#
#   scripts/demo.sh            in a 64-bit Windows prefix (WOW64)
#   scripts/demo.sh --win32    in a 32-bit Windows prefix
#
# The prefix is thrown away and made anew at each run, in
# build/demo/<arch>-prefix. Screenshots land in build/demo/screenshots/<arch>/.
set -euo pipefail
source "$(dirname "$0")/preamble.sh"
arch=win64
for option in "$@"; do
  case "$option" in
    --win32) arch=win32 ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo: unknown option $option (use --win32 or nothing)" >&2; exit 2 ;;
  esac
done

quillon_preamble
demo="$build/demo"
prefix="$demo/$arch-prefix"

source "$root/scripts/wine-session.sh"
rm -rf "$prefix" "$demo/$arch-work" "$demo/screenshots/$arch"
echo "== demo in a new $arch Wine prefix: $prefix =="
wine_session_start "$prefix" "$arch"
python3 "$root/demo/update_demo.py" --build-dir "$build" --prefix "$prefix" --arch "$arch" \
        --work-dir "$demo/$arch-work" --screenshots-dir "$demo/screenshots/$arch"
