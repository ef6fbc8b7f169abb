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

# bookworm-backports from the same archive the machine already uses for
# bookworm: the URI, components and keyring of its configured bookworm entry,
# in either source format, so that the script works behind any mirror.
add_backports_source() {
  local target=/etc/apt/sources.list.d/quillon-bookworm-backports.sources entry
  if cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
       grep -v '^[[:space:]]*#' | grep -qE '(^|[[:space:]])bookworm-backports([[:space:]]|$)'; then
    return
  fi
  entry=$(python3 - <<'PY'
import glob, re, sys

def one_line_entries(path):
    for line in open(path, encoding="utf-8", errors="replace"):
        line = line.split("#", 1)[0].strip()
        if not line.startswith("deb "):
            continue
        options = re.match(r"deb\s+\[([^\]]*)\]\s*", line)
        signed = ""
        if options:
            found = re.search(r"signed-by=(\S+)", options.group(1))
            signed = found.group(1) if found else ""
            rest = line[options.end():].split()
        else:
            rest = line.split()[1:]
        if len(rest) >= 3:
            yield rest[0], rest[1], rest[2:], signed

def deb822_entries(path):
    text = open(path, encoding="utf-8", errors="replace").read()
    for stanza in re.split(r"\n\s*\n", text):
        fields = {}
        for line in stanza.splitlines():
            if line.startswith("#") or ":" not in line or line[:1].isspace():
                continue
            key, value = line.split(":", 1)
            fields[key.strip().lower()] = value.strip()
        if fields.get("enabled", "yes").lower() == "no" or "deb" not in fields.get("types", "").split():
            continue
        for uri in fields.get("uris", "").split():
            for suite in fields.get("suites", "").split():
                yield uri, suite, fields.get("components", "").split(), fields.get("signed-by", "")

entries = []
for path in ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list")):
    try:
        entries += one_line_entries(path)
    except OSError:
        pass
for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
    entries += deb822_entries(path)
for uri, suite, components, signed in entries:
    if suite == "bookworm" and components:
        print(f"Types: deb\nURIs: {uri}\nSuites: bookworm-backports\nComponents: {' '.join(components)}")
        if signed:
            print(f"Signed-By: {signed}")
        sys.exit(0)
sys.exit(1)
PY
) || { echo "setup: no bookworm entry in the apt sources to take backports from" >&2; return 1; }
  echo "setup: adding bookworm-backports from the configured bookworm archive"
  printf '%s\n' "$entry" | $SUDO tee "$target" >/dev/null
}

qemu=/usr/bin/qemu-i386
need_backports=yes
if [ -x "$qemu" ]; then
  ver=$("$qemu" --version | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p')
  [ "${ver:-0}" -ge 8 ] && need_backports=no
fi
if [ "$need_backports" = yes ]; then
  add_backports_source
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
