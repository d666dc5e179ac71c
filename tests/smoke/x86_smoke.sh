#!/usr/bin/env bash
# The x86 stub's smoke check, for hosts where 32-bit programs run only through qemu (or where the
# x64 mode was chosen): a packed 32-bit uninstaller, run quietly with /S as an installer's caller
# would, removes its files, its emptied folder and its registry key, and keeps an unlisted file.
# One run, because under emulation one start of the stub takes minutes; the suites test the rest.
#   x86_smoke.sh NATIVE_BUILD WIN32_BUILD
# QUILLON_SMOKE_PREFIX names a Wine prefix to use (run-all.sh passes the x64 suite's, whose 32-bit
# half was set up already); by default the build has one of its own.
set -euo pipefail
native=${1:?usage: x86_smoke.sh NATIVE_BUILD WIN32_BUILD}
win32=$(cd "${2:?usage: x86_smoke.sh NATIVE_BUILD WIN32_BUILD}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
runs=$("$here/../../tools/host-kind.sh")
if [ "$runs" = none ]; then
    echo "x86 smoke check: cannot run: this host runs no i386 program, and qemu-user is not registered for i386 (tools/install-deps.sh registers it)" >&2
    exit 1
fi
echo "x86 smoke check: 32-bit programs run here: $runs"

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
source "$here/../harness/wine-env.sh"
use_build_prefix "$win32" "${QUILLON_SMOKE_PREFIX:-$win32/smoke-prefix}"
trap stop_wine_prefix EXIT
# Registry reads and writes go through the 64-bit reg.exe, which needs no i386 program: HKCU's
# Software is one key for both views.
reg64() { timeout -k 10 120 /usr/lib/wine/wine64 reg "$@"; }

started=$(date +%s)
[ -f "$WINEPREFIX/.quillon-ready" ] || echo "x86 smoke check: creating its Wine prefix (under qemu this takes minutes)"
prepare_wine_prefix
echo "x86 smoke check: prefix ready after $(( $(date +%s) - started )) s"

source "$win32/flavour.env"
app="$WINEPREFIX/drive_c/Quillon Smoke"
rm -rf "$app"
mkdir -p "$app/data"
echo smoke > "$app/Smoke.exe"
echo smoke > "$app/data/settings.ini"
echo "the user's own" > "$WINEPREFIX/drive_c/smoke-notes.txt"
"$native/pack/quillon-pack" build "$here/manifest.json" --stub "$win32/$QUILLON_STUB" -o "$app/uninstall.exe" >/dev/null
reg64 add 'HKCU\Software\QuillonSmoke\Settings' /v Theme /d dark /f >/dev/null

status=0
timeout -k 10 "${QUILLON_SMOKE_TIMEOUT:-1500}" "$WINE" 'C:\Quillon Smoke\uninstall.exe' /S || status=$?
echo "x86 smoke check: the uninstaller exited with $status after $(( $(date +%s) - started )) s in all"

failures=()
[ "$status" = 0 ] || failures+=("exit value $status, not 0")
for gone in Smoke.exe data/settings.ini data; do
    [ ! -e "$app/$gone" ] || failures+=("$gone is still there")
done
[ -f "$app/uninstall.exe" ] || failures+=("/S removed the uninstaller itself")
[ -f "$WINEPREFIX/drive_c/smoke-notes.txt" ] || failures+=("the unlisted smoke-notes.txt is gone")
if reg64 query 'HKCU\Software\QuillonSmoke' >/dev/null 2>&1; then
    failures+=("HKCU\\Software\\QuillonSmoke is still there")
fi
if [ ${#failures[@]} -ne 0 ]; then
    printf 'x86 smoke check FAILED: %s\n' "${failures[@]}"
    exit 1
fi
echo "x86 smoke check passed: files, folder and key removed, the unlisted file kept"
