# Sourced by the test and demo scripts: one Xvfb display and one wineserver
# kept alive per prefix, so that each Wine process starts in well under a
# second, and everything stopped again on the way out (Ctrl-C included).

_session_xvfb_pid=

wine_session_display() {
  if [ -n "${DISPLAY:-}" ] && [ -z "${QUILLON_FORCE_XVFB:-}" ]; then return; fi
  # Xvfb picks a free display itself and writes its number to the pipe, so
  # two sessions started at the same moment never race for one display.
  local fifo n
  fifo=$(mktemp -u "${TMPDIR:-/tmp}/xvfb-display.XXXXXX")
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  _session_xvfb_pid=$!
  n=$(timeout 10 head -n 1 "$fifo" || true)
  rm -f "$fifo"
  if [ -z "$n" ]; then
    echo "Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$n"
}

# Wine's own fonts (Debian's fonts-wine) into the prefix's Fonts folder, where
# this Wine looks for them: without Marlett the buttons of every title bar show
# letters, and without Tahoma the dialogs fall back to another face.
wine_session_fonts() {
  local fonts=/usr/share/wine/fonts target="$WINEPREFIX/drive_c/windows/Fonts"
  [ -d "$fonts" ] && [ ! -e "$target/marlett.ttf" ] || return 0
  mkdir -p "$target"
  cp -n "$fonts"/* "$target"/
}

# Every Wine window of the session goes on one Wine virtual desktop, as big as
# the display. Wine then draws frames and title bars itself, as Windows does:
# on a bare X server no window manager would, and message boxes would show
# neither, on screen or in screenshots. The setting lives in the prefix; the
# server is restarted after a change so that no desktop of the old kind lives on.
# The desktop is named after the prefix, and its X window after the desktop
# ("NAME - Wine desktop"): the screenshots find it by QUILLON_WINE_DESKTOP,
# even when another prefix's desktop shares the display (the demo's test runs
# a prefix of its own inside a test session).
wine_session_virtual_desktop() {
  local size=1024x768 user_reg="$WINEPREFIX/user.reg"
  export QUILLON_WINE_DESKTOP="quillon-$(printf '%s' "$WINEPREFIX" | sha1sum | cut -c1-8)"
  if grep -q "^\"Desktop\"=\"$QUILLON_WINE_DESKTOP\"" "$user_reg" 2>/dev/null &&
     grep -q "^\"$QUILLON_WINE_DESKTOP\"=\"$size\"" "$user_reg"; then
    return
  fi
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d "$QUILLON_WINE_DESKTOP" /f </dev/null >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v "$QUILLON_WINE_DESKTOP" /d "$size" /f \
    </dev/null >/dev/null 2>&1
  wineserver --kill 2>/dev/null || true
  wineserver --persistent
}

# wine_session_start PREFIX ARCH: creates the prefix on first use.
wine_session_start() {
  export WINEPREFIX="$1" WINEARCH="$2"
  export WINEDEBUG="${WINEDEBUG:--all}"
  # No Mono or Gecko install prompts in a fresh prefix.
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  [ -n "$_session_xvfb_pid" ] || wine_session_display
  mkdir -p "$WINEPREFIX"
  # One server for the whole run. A server left running by an earlier run
  # would end a few seconds after its last client; replace it.
  wineserver --kill 2>/dev/null || true
  wineserver --persistent
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating a $WINEARCH Wine prefix in $WINEPREFIX"
    wine wineboot --init </dev/null >/dev/null 2>&1
  fi
  wine_session_fonts
  wine_session_virtual_desktop
  # Start Wine's own services and the desktop now, with no terminal or pipe
  # attached: started later by a test program, they would inherit its output
  # pipe and keep CTest waiting for the end of that output for ever.
  wine rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || true
}

wine_session_stop() {
  [ -n "${WINEPREFIX:-}" ] && wineserver --kill 2>/dev/null || true
}

_wine_session_cleanup() {
  wine_session_stop
  [ -n "$_session_xvfb_pid" ] && kill "$_session_xvfb_pid" 2>/dev/null || true
}
trap _wine_session_cleanup EXIT
trap 'exit 130' INT TERM
