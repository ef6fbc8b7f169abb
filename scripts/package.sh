#!/usr/bin/env bash
# Builds the release packages in a new build folder and writes them to dist/:
#
#   dist/Plugin-<version>.zip    for NSIS script authors, in NSIS's own layout,
#                                with the plug-in for 32-bit and for 64-bit installers
#   dist/Quillon-<version>.zip   for those who deploy the updater
#   dist/SHA256SUMS              their SHA-256 sums: `sha256sum -c SHA256SUMS`
#
# then prints the sums and the tools that made them. <version> is the one in
# VERSION. The binaries carry SOURCE_DATE_EPOCH, by default the commit's time,
# so that whoever builds the same commit with the same Debian packages gets
# the same bytes (docs/developing.md, "Releases").
set -euo pipefail
if [ $# -ne 0 ]; then
  echo "usage: scripts/package.sh   (no arguments: it builds afresh and replaces dist/)" >&2
  exit 2
fi
source "$(dirname "$0")/preamble.sh"
# Nothing of an earlier build may get in: configure and build afresh.
build="$build/package"
rm -rf "$build"

if top=$(git -C "$root" rev-parse --show-toplevel 2>/dev/null) && [ "$(realpath "$top")" = "$(realpath "$root")" ] &&
   [ -n "$(git -C "$root" status --porcelain)" ]; then
  echo "package: the source tree has changes that are not committed: these packages match no commit" >&2
fi

quillon_preamble --target packages

dist="$root/dist"
rm -rf "$dist"
mkdir -p "$dist"
cp "$build/dist/"*.zip "$build/dist/SHA256SUMS" "$dist/"
echo "== $dist/SHA256SUMS =="
(cd "$dist" && sha256sum --check --quiet SHA256SUMS && cat SHA256SUMS)
echo "== made with =="
dpkg-query -W -f='${Package} ${Version}\n' g++-mingw-w64-i686-posix binutils-mingw-w64-i686 \
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 python3
python3 -c 'import zlib; print("zlib", zlib.ZLIB_RUNTIME_VERSION)'
