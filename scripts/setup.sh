#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian's
# packages only. Safe to run again: when every package is present it does
# nothing at all (no apt-get update, no network).
set -euo pipefail

PACKAGES=(
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  # Plugin.dll for 64-bit installers (amd64-unicode) and its 64-bit tests
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine32:i386 wine64
  nsis
  xvfb x11-utils xdotool imagemagick
  fonts-wine  # Wine's own fonts: Marlett draws the buttons of the title bars
  cmake make ninja-build
  googletest
  python3
  openssl osslsigncode
  nginx-light
)

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
here=$(cd "$(dirname "$0")" && pwd)

missing=()
for p in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: every package is installed"
  "$here/enable-i386.sh"
  exit 0
fi
echo "setup: installing ${missing[*]}"

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
# A failed index (seen with the i386 index of the security suite) must not stop
# us: what matters is whether the install below can be resolved.
$SUDO apt-get update -q || echo "setup: apt-get update reported errors; going on"

apt_install() { $SUDO apt-get install -y -q --no-install-recommends "$@"; }

finish() { "$here/enable-i386.sh"; exit 0; }

if apt_install "${missing[@]}"; then finish; fi

# wine32 needs i386 libraries of exactly the version installed for amd64. When
# the security suite's i386 index is missing, amd64 libraries upgraded from it
# have no i386 twin. Take everything from bookworm itself, and move the amd64
# libraries that were upgraded past bookworm back to bookworm's version.
echo "setup: retrying from the bookworm suite"
if apt_install -t bookworm "${missing[@]}"; then finish; fi

# Only multi-arch "same" libraries must agree across architectures.
same=$(dpkg-query -W -f='${Package}:${Architecture} ${Version} ${Multi-Arch} ${db:Status-Status}\n' |
       awk '$1 ~ /:amd64$/ && $3=="same" && $4=="installed" {print $1, $2}')
pins=()
while read -r pkg want; do
  have=$(awk -v p="$pkg" '$1==p {print $2}' <<<"$same")
  [ -n "$want" ] && [ "$want" != "$have" ] && pins+=("$pkg=$want")
done < <(apt-cache madison $(cut -d' ' -f1 <<<"$same") |
         awk -F'|' '$3 ~ / bookworm\/main / {gsub(/ /, "", $1); gsub(/ /, "", $2); if (!seen[$1]++) print $1 ":amd64", $2}')
echo "setup: pinning back to bookworm: ${pins[*]:-none}"
apt_install -t bookworm --allow-downgrades "${missing[@]}" "${pins[@]}"
finish
