#!/usr/bin/env bash
# Tells what kind of host this is for running Windows programs under Wine.
#   host-kind.sh            how 32-bit Linux programs run here, which Wine's 32-bit loader is:
#                           i386 (natively), qemu (only through qemu-user, registered for i386),
#                           none (not at all)
#   host-kind.sh --mode     what the tests run: both (the x86 and the x64 suites, on a host that
#                           runs i386 natively) or x64 (the x64 suite, and a smoke check of the x86
#                           stub through whatever runs i386 here)
#   host-kind.sh --flavour  the flavour that runs the demo, the benchmark and the screenshots:
#                           x86 in mode both, x64 otherwise
# QUILLON_NO_I386=1 chooses mode x64 on any host; so does qemu registered for i386, which sends
# every i386 program through emulation.
set -uo pipefail

runs_i386() {
    if grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
        echo qemu
    elif /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
        echo i386
    else
        echo none
    fi
}

mode() {
    if [ "$(runs_i386)" = i386 ] && [ "${QUILLON_NO_I386:-0}" != 1 ]; then echo both; else echo x64; fi
}

case ${1:-} in
    "") runs_i386 ;;
    --mode) mode ;;
    --flavour) [ "$(mode)" = both ] && echo x86 || echo x64 ;;
    *) echo "usage: host-kind.sh [--mode | --flavour]" >&2; exit 2 ;;
esac
