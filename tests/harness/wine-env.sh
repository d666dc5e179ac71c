# Sourced by every script that runs Windows programs under Wine (the test runners, the per-program
# runner, the demo, the benchmark, the screenshots): one private prefix per use, the Wine loader
# for the build's flavour, the prefix's settings, its creation and its stop.

# use_wine_prefix PREFIX [FLAVOUR]: the settings for PREFIX, and in WINE the loader that runs the
# flavour's programs (x86 by default). Without WINEPREFIX Wine would quietly use ~/.wine; HOME
# points beside the prefix so that its shell folders stay private too.
#
# x64 programs are started by wine64 itself: Debian's wine wrapper takes the i386 loader whenever
# wine32 is installed, and that loader cannot start on a host that refuses i386 programs. The
# same wine64 serves Wine's own tools (wineboot, reg) for an x64 build, so an x64 build never
# needs an i386 program.
use_wine_prefix() {
    export WINEPREFIX=$1
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export HOME="$1.home"
    mkdir -p "$HOME"
    case ${2:-x86} in
        x64) WINE=/usr/lib/wine/wine64 ;;
        *) WINE=wine ;;
    esac
    export WINE
}

# use_build_prefix BUILD [PREFIX]: use_wine_prefix for a Windows build folder, with its flavour
# (flavour.env); the prefix is BUILD/wineprefix unless named.
use_build_prefix() {
    local QUILLON_FLAVOUR=x86
    # shellcheck disable=SC1091
    [ -f "$1/flavour.env" ] && source "$1/flavour.env"
    use_wine_prefix "${2:-$1/wineprefix}" "$QUILLON_FLAVOUR"
}

# prepare_wine_prefix: creates the prefix once; callers running side by side wait for each other.
# Its windows are not managed by a window manager: there is none on a virtual display, and a
# managed window waits about two seconds for one each time it is shown or hidden. On a host that
# refuses i386 programs, the 32-bit half of a new prefix's set-up fails; the 64-bit half is what
# x64 programs need.
prepare_wine_prefix() {
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.quillon-ready" ]; then
            timeout -k 10 "${QUILLON_PREFIX_TIMEOUT:-900}" "$WINE" wineboot -i >/dev/null 2>&1 || true
            timeout -k 10 300 "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
            timeout -k 10 300 wineserver -w
            touch "$WINEPREFIX/.quillon-ready"
        fi
    ) 9>"$WINEPREFIX.lock"
}

# stop_wine_prefix: stops this prefix's Wine server, and nothing else.
stop_wine_prefix() {
    wineserver -k >/dev/null 2>&1 || true
}

# fresh_drive_c_folder WINE_RUN PREFIX PROGRAM NAME: for tests that make links from the Linux side
# (Windows programs cannot make them under Wine 8). Lets PROGRAM's first run through WINE_RUN
# create the prefix before drive_c is written to, then makes C:\NAME anew; prints its Unix path.
fresh_drive_c_folder() {
    if [ ! -f "$2/.quillon-ready" ]; then
        "$1" "$3" --gtest_list_tests >/dev/null
    fi
    local folder="$2/drive_c/$4"
    rm -rf "$folder"
    mkdir -p "$folder"
    printf '%s\n' "$folder"
}
