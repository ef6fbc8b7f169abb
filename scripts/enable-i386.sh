#!/usr/bin/env bash
# wine32 is a 32-bit Linux program. Some kernels (lightweight VMs among them)
# are built without 32-bit user-space support, and then every 32-bit ELF fails
# with "Exec format error". On such a machine we run 32-bit Linux programs
# through qemu's user-mode emulator, registered with binfmt_misc.
#
# qemu 7.2 from bookworm does not honour MAP_FIXED_NOREPLACE, which makes every
# Wine process spend ~50 s reserving its address space 64 KB at a time; the
# qemu of bookworm-backports does, and starts a Wine process in a fraction of a
# second. Safe to run again: it does nothing where 32-bit programs already run.
set -euo pipefail
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

probe=/lib/ld-linux.so.2
if "$probe" --version >/dev/null 2>&1; then
  exit 0
fi
echo "setup: this kernel cannot run 32-bit programs; using qemu-i386 through binfmt_misc"

qemu=/usr/bin/qemu-i386
need_backports=yes
if [ -x "$qemu" ]; then
  ver=$("$qemu" --version | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p')
  [ "${ver:-0}" -ge 8 ] && need_backports=no
fi
if [ "$need_backports" = yes ]; then
  list=/etc/apt/sources.list.d/bookworm-backports.list
  if [ ! -f "$list" ]; then
    echo 'deb http://deb.debian.org/debian bookworm-backports main' | $SUDO tee "$list" >/dev/null
  fi
  $SUDO apt-get update -q || echo "setup: apt-get update reported errors; going on"
  $SUDO apt-get install -y -q --no-install-recommends -t bookworm-backports qemu-user-static
fi
[ -x "$qemu" ] || qemu=/usr/bin/qemu-i386-static

binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/register" ]; then
  $SUDO mount -t binfmt_misc binfmt_misc "$binfmt"
fi
# Drop any older registration: with the F flag the kernel keeps the binary it
# opened at registration, so a stale qemu would stay in use after an upgrade.
for entry in "$binfmt"/qemu-i386 "$binfmt"/i386-linux; do
  [ -e "$entry" ] && echo -1 | $SUDO tee "$entry" >/dev/null
done
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
printf ':qemu-i386:M::%s:%s:%s:F' "$magic" "$mask" "$(readlink -f "$qemu")" | $SUDO tee "$binfmt/register" >/dev/null

"$probe" --version >/dev/null 2>&1 || { echo "setup: 32-bit programs still do not run" >&2; exit 1; }
echo "setup: 32-bit programs now run through $(readlink -f "$qemu")"
