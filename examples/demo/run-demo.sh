#!/usr/bin/env bash
# The main job on the bundled example: pack the example manifest into an uninstaller, "install"
# the example application into a private Wine prefix (its files, shortcuts, registry keys and the
# uninstaller as uninstall.exe in its folder), run the uninstaller quietly (/Q), and show what was
# there before and what is left after. Unrelated files planted beside it must survive.
#   run-demo.sh NATIVE_BUILD WINDOWS_BUILD
# The Windows build's flavour (x86 or x64) is the uninstaller's; `make demo` takes x64 on a host
# that cannot run 32-bit programs.
set -euo pipefail
native=${1:?usage: run-demo.sh NATIVE_BUILD WINDOWS_BUILD}
win32=${2:?usage: run-demo.sh NATIVE_BUILD WINDOWS_BUILD}
here=$(cd "$(dirname "$0")" && pwd)

# One virtual display for the whole demo: Wine's desktop belongs to the first program of the
# prefix's session, and a desktop started without a display cannot hold the uninstaller's windows.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

source "$here/../../tests/harness/wine-env.sh"
use_build_prefix "$win32" "$win32/demo-prefix"
source "$win32/flavour.env"
if [ "$QUILLON_FLAVOUR" = x64 ]; then
    case $("$here/../../tools/host-kind.sh") in
        i386) why="chosen with QUILLON_NO_I386=1" ;;
        qemu) why="this host runs 32-bit programs only through qemu, about 100 times slower" ;;
        *) why="this host cannot run 32-bit programs" ;;
    esac
    echo "== The x64 flavour: $QUILLON_STUB, a 64-bit uninstaller ($why)"
else
    echo "== The x86 flavour: $QUILLON_STUB, a 32-bit uninstaller"
fi
trap stop_wine_prefix EXIT
[ -f "$WINEPREFIX/.quillon-ready" ] || echo "== Creating the demo's Wine prefix (once: about 20 seconds; minutes where 32-bit programs run through qemu)"
prepare_wine_prefix

drive="$WINEPREFIX/drive_c"
app="$drive/Program Files/Quillon Demo"
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Quillon Demo"

echo "== Packing examples/demo/manifest.json"
"$native/pack/quillon-pack" build "$here/manifest.json" --stub "$win32/$QUILLON_STUB" -o "$win32/demo-uninstall.exe"

echo "== Installing the example application"
rm -rf "$app" "$menu"
mkdir -p "$app/plugins" "$app/data/templates" "$app/logs/old" "$menu"
for file in QuillonDemo.exe QuillonDemo.chm readme.txt plugins/export.dll plugins/import.dll data/sample.qdm \
            data/templates/letter.qdt logs/today.log logs/old/last-week.log; do
    echo "demo $file" > "$app/$file"
done
echo "shortcut" > "$menu/Quillon Demo.lnk"
echo "shortcut" > "$menu/Read Me.lnk"
echo "the user's own notes, not installed by the demo" > "$drive/Program Files/notes-beside-the-demo.txt"
cp "$win32/demo-uninstall.exe" "$app/uninstall.exe"
"$WINE" reg add 'HKCU\Software\QuillonDemo\Settings' /v Theme /d dark /f >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v QuillonDemo /d 'C:\Program Files\Quillon Demo\QuillonDemo.exe' /f >/dev/null 2>&1

show() {
    (cd "$drive" && find "Program Files/Quillon Demo" "ProgramData/Microsoft/Windows/Start Menu/Programs/Quillon Demo" \
        "Program Files/notes-beside-the-demo.txt" 2>/dev/null || true) | sort | sed 's/^/  C:\//'
    "$WINE" reg query 'HKCU\Software\QuillonDemo' /s 2>/dev/null | tr -d '\r' | grep -v -e '^$' -e 'Unable to find' | sed 's/^/  /' || true
    "$WINE" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v QuillonDemo 2>/dev/null | tr -d '\r' \
        | grep QuillonDemo | sed 's/^/  /' || true
}
echo "== Before"
show

echo "== Running C:\\Program Files\\Quillon Demo\\uninstall.exe /Q"
status=0
timeout 120 "$WINE" "C:\\Program Files\\Quillon Demo\\uninstall.exe" /Q 2>&1 || status=$?
echo "   exit value: $status"
# The uninstaller's executable and folder go by a batch that runs after it has ended.
for _ in $(seq 1 20); do [ -e "$app" ] || break; sleep 0.5; done

echo "== After"
show
if [ -e "$app" ] || [ ! -e "$drive/Program Files/notes-beside-the-demo.txt" ]; then
    echo "== Something listed is still there, or the unrelated notes are gone: see above."
    exit 1
fi
echo "== Done: everything listed is gone, the uninstaller too; the notes beside it are still there."
