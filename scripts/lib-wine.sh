# Sourced by scripts that run Windows programs: one X server and one persistent wineserver for the
# whole run, fully detached so that nothing holds a test's output pipe open.
wine_prefix_for() { echo "$1/wineprefix"; }

wine_up() {
  local build="$1"
  export WINEPREFIX
  WINEPREFIX=$(wine_prefix_for "$build")
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if [ -z "${DISPLAY:-}" ]; then
    local fdfile
    fdfile=$(mktemp)
    setsid Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$fdfile" </dev/null >/dev/null 2>&1 &
    VANTREL_XVFB_PID=$!
    for _ in $(seq 1 100); do
      [ -s "$fdfile" ] && break
      sleep 0.1
    done
    [ -s "$fdfile" ] || { echo "could not start Xvfb" >&2; return 1; }
    export DISPLAY=":$(head -n 1 "$fdfile")"
    rm -f "$fdfile"
  fi
  mkdir -p "$WINEPREFIX"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 300 wineboot -i </dev/null >/dev/null 2>&1 || true
  fi
  setsid wineserver -p </dev/null >/dev/null 2>&1 &
  # Warm it: the first program start pays for the server's set-up.
  timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_down() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${VANTREL_XVFB_PID:-}" ]; then
    kill "$VANTREL_XVFB_PID" 2>/dev/null || true
    unset VANTREL_XVFB_PID
  fi
}
