#!/usr/bin/env bash
# Takes the README's screenshots of the real stub: the confirmation box, the progress dialog, and
# the read-only prompt over it. It packs tools/screenshots/manifest.json into an uninstaller,
# "installs" a small application with one read-only file into a private Wine prefix, starts the
# uninstaller as a user would (no switch) on a virtual display of its own, and takes each window
# as it comes before answering it (tools/screenshots/window_helper.cpp finds and answers them).
#   screenshots.sh NATIVE_BUILD WINDOWS_BUILD OUTPUT_FOLDER
# Either flavour's build works: the uninstaller and the helper are of its flavour. Writes
# confirm.png, progress.png and read-only.png (8-bit palette PNGs) into OUTPUT_FOLDER. Every wait
# has a time limit; at the end the prefix's Wine server and the virtual display are stopped.
set -euo pipefail
usage="usage: screenshots.sh NATIVE_BUILD WINDOWS_BUILD OUTPUT_FOLDER"
native=$(cd "${1:?$usage}" && pwd)
build=$(cd "${2:?$usage}" && pwd)
mkdir -p "${3:?$usage}"
out=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

# A virtual display of our own, always: the screen must hold nothing but the uninstaller's windows,
# and Wine's desktop belongs to the display of the prefix's first program. xvfb-run stops it at the
# end.
screen_width=1024 screen_height=768
if [ "${QUILLON_SCREENSHOT_DISPLAY:-}" != own ]; then
    export QUILLON_SCREENSHOT_DISPLAY=own
    exec xvfb-run -a -s "-screen 0 ${screen_width}x${screen_height}x24 -wr" "$0" "$native" "$build" "$out"
fi

source "$here/../tests/harness/wine-env.sh"
use_build_prefix "$build" "$build/screenshot-prefix"
source "$build/flavour.env"
helper_exe="$build/tools/screenshots/window_helper.exe"
for needed in "$native/pack/quillon-pack" "$build/$QUILLON_STUB" "$helper_exe"; do
    [ -f "$needed" ] || { echo "screenshots: $needed is missing: build first (make)" >&2; exit 1; }
done

uninstaller_pid=""
finish() {
    [ -n "$uninstaller_pid" ] && kill "$uninstaller_pid" 2>/dev/null || true
    stop_wine_prefix
    timeout -k 5 30 wineserver -w 2>/dev/null || true
    [ -n "$uninstaller_pid" ] && wait "$uninstaller_pid" 2>/dev/null || true
}
trap finish EXIT
started=$SECONDS
[ -f "$WINEPREFIX/.quillon-ready" ] || echo "== Creating the screenshots' Wine prefix (once, about 20 seconds)"
prepare_wine_prefix

drive="$WINEPREFIX/drive_c"
app="$drive/Program Files/Tidewater Notes"
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Tidewater Notes"
work=$(mktemp -d)
trap 'finish; rm -rf "$work"' EXIT

echo "== Packing the uninstaller ($QUILLON_FLAVOUR flavour)"
"$native/pack/quillon-pack" build "$here/screenshots/manifest.json" --stub "$build/$QUILLON_STUB" \
    -o "$work/uninstall.exe" >/dev/null

echo "== Installing the application"
[ -d "$app" ] && chmod -R u+w "$app"
rm -rf "$app" "$menu"
mkdir -p "$app/plugins" "$app/templates" "$app/dictionaries" "$app/logs" "$menu"
for file in Tidewater.exe Tidewater.chm license.txt readme.txt Welcome.tdn plugins/export.dll plugins/spelling.dll \
            templates/Letter.tnt templates/Meeting.tnt dictionaries/en-GB.dic dictionaries/en-US.dic \
            dictionaries/fr-FR.dic logs/today.log; do
    echo "Tidewater Notes $file" > "$app/$file"
done
echo "shortcut" > "$menu/Tidewater Notes.lnk"
# A file without write permission is read-only to Windows programs under Wine.
chmod a-w "$app/Welcome.tdn"
cp "$work/uninstall.exe" "$app/uninstall.exe"
"$WINE" reg add 'HKCU\Software\Tidewater\Notes' /v Theme /d light /f >/dev/null 2>&1

helper() { timeout -k 5 60 "$WINE" "$helper_exe" "$@" | tr -d '\r'; }

# shoot NAME X Y WIDTH HEIGHT: the screen's area as OUTPUT_FOLDER/NAME.png, an 8-bit palette PNG.
shoot() {
    import -display "$DISPLAY" -window root "$work/screen.png"
    convert "$work/screen.png" -crop "${4}x${5}+${2}+${3}" +repage +dither -colors 256 \
        -define png:exclude-chunks=date,time -strip "PNG8:$out/$1.png"
    echo "   $1.png: ${4}x${5}, $(stat -c %s "$out/$1.png") bytes"
}

# wait_for KIND WHAT: waits for the uninstaller's window of KIND and prints where it is.
wait_for() {
    local where
    if ! where=$(helper wait "$1" 30000) || [ -z "$where" ]; then
        echo "screenshots: $2 did not come within 30 seconds" >&2
        exit 1
    fi
    echo "$where"
}

echo "== Starting C:\\Program Files\\Tidewater Notes\\uninstall.exe"
timeout -k 5 300 "$WINE" "C:\\Program Files\\Tidewater Notes\\uninstall.exe" >/dev/null 2>&1 &
uninstaller_pid=$!

where=$(wait_for box "the confirmation box")
read -r x y w h <<<"$where"
shoot confirm "$x" "$y" "$w" "$h"
helper press box 1 # OK

# The read-only prompt stops the file pass with the progress dialog open behind it: the prompt is
# taken over the dialog, then moved aside so that the dialog can be taken alone.
where=$(wait_for progress "the progress dialog")
read -r px py pw ph <<<"$where"
where=$(wait_for prompt "the read-only prompt")
read -r qx qy qw qh <<<"$where"
left=$((px < qx ? px : qx)) top=$((py < qy ? py : qy))
right=$((px + pw > qx + qw ? px + pw : qx + qw)) bottom=$((py + ph > qy + qh ? py + ph : qy + qh))
shoot read-only "$left" "$top" $((right - left)) $((bottom - top))
helper move prompt 0 $((screen_height - qh)) # the bottom left corner, clear of the dialog
where=$(wait_for progress "the progress dialog")
read -r px py pw ph <<<"$where"
shoot progress "$px" "$py" "$pw" "$ph"
helper press prompt 6 # Yes

wait_for box "the closing message" >/dev/null
helper press box 1 # OK
status=0
wait "$uninstaller_pid" || status=$?
uninstaller_pid=""
[ "$status" -eq 0 ] || { echo "screenshots: the uninstaller ended with $status" >&2; exit 1; }
echo "== Done in $((SECONDS - started)) seconds: $out"
