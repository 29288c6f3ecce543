# Sourced by scripts that run Windows programs under Wine. wine_up starts one X server and one
# persistent wineserver for the whole run, both fully detached (their own session, no inherited
# descriptors) so that nothing keeps a test's output pipe open; wine_down stops both. Every Wine
# program then starts in a few hundredths of a second instead of seconds.
#
#   wine_up BUILD_DIR     prefix BUILD_DIR/wineprefix (made on first use, then reused)
#   wine_down             safe to call twice, and from an EXIT trap

wine_prefix_for() { echo "$1/wineprefix"; }

# Runs a command in a session of its own with no descriptor of ours: standard streams on
# /dev/null and every other inherited descriptor closed (one left open on a pipe that CTest or a
# CI runner reads would keep that reader waiting for good). Extra redirections in "$@" are not
# supported; use `3>file` on the call itself for a descriptor the program needs. It replaces the
# calling shell: call it in a subshell, `( _wine_detached ... )`, or in the background.
_wine_detached() {
    local keep=${VANTREL_KEEP_FD:-} fd
    for fd in $(ls /proc/$BASHPID/fd 2>/dev/null); do
        if [ "$fd" -gt 2 ] && [ "$fd" != "$keep" ]; then
            eval "exec $fd>&-" 2>/dev/null
        fi
    done
    exec setsid "$@" </dev/null >/dev/null 2>&1
}

_wine_start_x() {
    local fdfile display
    fdfile=$(mktemp)
    # -displayfd: Xvfb picks a free display and writes its number once it accepts clients.
    VANTREL_KEEP_FD=3 _wine_detached Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 \
        3>"$fdfile" &
    VANTREL_XVFB_PID=$!
    for _ in $(seq 1 100); do
        [ -s "$fdfile" ] && break
        kill -0 "$VANTREL_XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    display=$(head -n 1 "$fdfile" 2>/dev/null)
    rm -f "$fdfile"
    if [ -z "$display" ]; then
        echo "wine: could not start Xvfb" >&2
        kill "$VANTREL_XVFB_PID" 2>/dev/null
        unset VANTREL_XVFB_PID
        return 1
    fi
    export DISPLAY=":$display"
}

wine_up() {
    local build="$1"
    export WINEPREFIX
    WINEPREFIX=$(wine_prefix_for "$build")
    export WINEDEBUG=-all
    # No Mono or Gecko installers when the prefix is made.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"

    # Our own X server, always: a desktop's display is not ours to fill with test windows, and a
    # DISPLAY inherited from elsewhere may be gone.
    _wine_start_x || return 1

    # A server left over from an earlier run of this prefix may be bound to a dead display (its
    # desktop process remembers it): stop it. The prefix is ours, under the build folder.
    timeout 20 wineserver -k >/dev/null 2>&1 || true
    timeout 20 wineserver -w >/dev/null 2>&1 || true

    # A prefix made while only the 64-bit Wine was installed has no 32-bit half (an empty
    # syswow64); once wine32 is installed, `wine` starts through the 32-bit loader and fails in
    # such a prefix even for 64-bit programs ("could not load kernel32.dll"). It is ours, under
    # the build folder: make it again.
    if [ -f "$WINEPREFIX/system.reg" ] && [ -x /usr/lib/wine/wine ] &&
        [ -z "$(ls -A "$WINEPREFIX/drive_c/windows/syswow64" 2>/dev/null)" ]; then
        echo "wine: the prefix $WINEPREFIX predates 32-bit Wine; making it again"
        rm -rf "$WINEPREFIX"
        mkdir -p "$WINEPREFIX"
    fi

    # The prefix, on first use. The registry files are written when the server ends, so this runs
    # on a server of its own that ends before the persistent one starts.
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine: making the prefix $WINEPREFIX (once; about a minute)"
        timeout 600 wine wineboot -i </dev/null >/dev/null 2>&1 || true
        timeout 60 wineserver -w >/dev/null 2>&1 || true
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            echo "wine: could not make the prefix" >&2
            return 1
        fi
    fi

    # Persistent: it stays up between test programs. wineserver forks into the background once
    # its socket is ready, so when this returns clients find it.
    if ! (_wine_detached timeout 20 wineserver -p); then
        echo "wine: wineserver did not start" >&2
        return 1
    fi

    # Warm it: the first program pays for the server's and the desktop's set-up.
    timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    # cmake/wine-run runs programs straight away while this is set.
    export VANTREL_WINE_UP=1
    return 0
}

wine_down() {
    unset VANTREL_WINE_UP
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        timeout 20 wineserver -k >/dev/null 2>&1 || true
        timeout 20 wineserver -w >/dev/null 2>&1 || true
    fi
    if [ -n "${VANTREL_XVFB_PID:-}" ]; then
        kill "$VANTREL_XVFB_PID" 2>/dev/null || true
        wait "$VANTREL_XVFB_PID" 2>/dev/null || true
        unset VANTREL_XVFB_PID
    fi
}
