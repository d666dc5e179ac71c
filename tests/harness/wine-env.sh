# Sourced by every script that runs Windows programs under Wine (the test runner, the per-program
# runner, the demo): one private prefix per use, its settings, its creation and its stop.

# use_wine_prefix PREFIX: the settings for PREFIX. Without WINEPREFIX Wine would quietly use
# ~/.wine; HOME points beside the prefix so that its shell folders stay private too.
use_wine_prefix() {
    export WINEPREFIX=$1
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export HOME="$1.home"
    mkdir -p "$HOME"
}

# prepare_wine_prefix: creates the prefix once; callers running side by side wait for each other.
# Its windows are not managed by a window manager: there is none on a virtual display, and a
# managed window waits about two seconds for one each time it is shown or hidden.
prepare_wine_prefix() {
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.quillon-ready" ]; then
            wineboot -i >/dev/null 2>&1 || true
            wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
            wineserver -w
            touch "$WINEPREFIX/.quillon-ready"
        fi
    ) 9>"$WINEPREFIX.lock"
}

# stop_wine_prefix: stops this prefix's Wine server, and nothing else.
stop_wine_prefix() {
    wineserver -k >/dev/null 2>&1 || true
}
