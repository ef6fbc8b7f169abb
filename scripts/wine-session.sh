# Sourced by the test and demo scripts: one Xvfb display and one wineserver
# kept alive per prefix, so that each Wine process starts in well under a
# second, and everything stopped again on the way out (Ctrl-C included).

_session_xvfb_pid=

wine_session_display() {
  if [ -n "${DISPLAY:-}" ] && [ -z "${QUILLON_FORCE_XVFB:-}" ]; then return; fi
  local n
  for n in $(seq 90 130); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
  done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  _session_xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && return; sleep 0.1; done
  echo "Xvfb did not start on :$n" >&2
  return 1
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
