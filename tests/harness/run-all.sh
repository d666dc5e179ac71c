#!/usr/bin/env bash
# Runs every test this host can run, and says first what kind of host it found and what will run.
#   run-all.sh NATIVE_BUILD WIN32_BUILD WIN64_BUILD
#
# Where 32-bit Linux programs run natively: the x86 suite at every platform level, and the x64
# suite at the default level and winxp. Elsewhere (or with QUILLON_NO_I386=1, or with qemu
# registered for i386): the x64 suite, and the x86 stub's smoke check through qemu. The native
# tests run once, with the first suite. The last line counts the CTest entries of both runs.
set -uo pipefail
native=${1:?usage: run-all.sh NATIVE_BUILD WIN32_BUILD WIN64_BUILD}
win32=${2:?usage: run-all.sh NATIVE_BUILD WIN32_BUILD WIN64_BUILD}
win64=${3:?usage: run-all.sh NATIVE_BUILD WIN32_BUILD WIN64_BUILD}
here=$(cd "$(dirname "$0")" && pwd)
kind="$here/../../tools/host-kind.sh"
runs=$("$kind")
mode=$("$kind" --mode)

case $runs in
    i386) echo "== Host: runs 32-bit (i386) programs natively" ;;
    qemu) echo "== Host: runs 32-bit (i386) programs only through qemu-user (registered for i386), slowly" ;;
    none) echo "== Host: cannot run 32-bit (i386) programs" ;;
esac
[ "${QUILLON_NO_I386:-0}" = 1 ] && echo "== QUILLON_NO_I386=1: the mode of a host without i386 is chosen"
if [ "$mode" = both ]; then
    echo "== Will run: native tests; the x86 suite at every level (default, win98, winxp, win10), with its smoke check;"
    echo "   the x64 suite at the default level and winxp (64-bit Windows has no 9x line)"
else
    echo "== Will run: native tests; the x64 suite at the default level and winxp; the x86 stub's smoke check through $runs."
    echo "   Not run: the x86 suite (its programs cannot start here, or only about 100 times slower)"
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
suite() {
    echo "== $1"
    shift
    "$here/run-tests.sh" "$@" 2>&1 | tee -a "$log"
    [ "${PIPESTATUS[0]}" = 0 ] || status=1
}
if [ "$mode" = both ]; then
    suite "x86 suite ($win32)" "$win32" -j 2
    suite "x64 suite ($win64)" "$win64" -j 2 -E '^native\.'
else
    suite "x64 suite ($win64)" "$win64" -j 2
    # In the x64 suite's prefix, whose 32-bit half is set up already: a new one takes minutes.
    QUILLON_SMOKE_PREFIX="$(cd "$win64" && pwd)/wineprefix" suite "x86 smoke check ($win32)" "$win32" -R '^smoke\.x86$'
fi

# The skipped GoogleTest cases of both runs, by reason (each program wrote its results).
python3 - "$win32/test-results" "$win64/test-results" <<'PYTHON'
import collections, glob, os, sys
import xml.etree.ElementTree as ElementTree
reasons = collections.Counter()
cases = 0
for folder in sys.argv[1:]:
    for path in sorted(glob.glob(os.path.join(folder, "*.xml"))):
        program = os.path.basename(path)[:-4]
        for case in ElementTree.parse(path).iter("testcase"):
            cases += 1
            skipped = case.find("skipped")
            if skipped is not None:
                reason = (skipped.get("message") or "").split("\n")[-1].strip() or "no reason given"
                reasons[f"{reason} ({program})"] += 1
print(f"== Test cases in the Windows programs: {cases}, of which {sum(reasons.values())} skipped")
for reason, count in sorted(reasons.items()):
    print(f"   {count} skipped: {reason}")
PYTHON

# CTest's summary lines: "NN% tests passed, F tests failed out of T".
read -r passed failed < <(awk '/tests passed, .* tests? failed out of/ {
    for (i = 1; i <= NF; i++) if ($i == "out") total += $(i + 2);
    for (i = 1; i <= NF; i++) if ($i ~ /^failed/) failed += $(i - 2) }
    END { print total - failed, failed + 0 }' "$log")
echo "== All runs: $passed passed, $failed failed"
echo "$passed passed, $failed failed"
exit $status
