#!/usr/bin/env bash
# Runs the end-to-end tests of links along listed paths. Windows programs cannot make links under
# Wine 8, but a Unix symbolic link inside drive_c shows up in Windows as a reparse-point folder.
# So this script makes them from the Linux side, under C:\quillon-hard, then starts the test
# program through wine-run.sh:
#   App\data -> victim  a link along the paths of the listed entries
#   App\prepared -> racevictim  the link the swapper puts in place of App\logs\evil
# The swapper plays the attacker of the race test. It must work from the Linux side too: a Windows
# program that renames a link under Wine moves the link's target instead. Once the test has filled
# App\logs\aaa and the pattern pass has deleted aaa\a1000.log, it renames App\logs\evil away and
# the prepared link into its place, and notes in swapper.result whether it could.
#   links.sh WINE_RUN PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
wine_run=$1
prefix=$2
shift 2

source "$(dirname "$0")/../harness/wine-env.sh"
root=$(fresh_drive_c_folder "$wine_run" "$prefix" "$1" quillon-hard)
mkdir -p "$root/victim/sub" "$root/victim/logs" "$root/victim/empty" "$root/racevictim/deep" "$root/App"
echo x >"$root/victim/important.dll"
echo x >"$root/victim/sub/group.txt"
echo x >"$root/victim/logs/keep.log"
echo x >"$root/victim/top.log"
echo x >"$root/racevictim/r.log"
echo x >"$root/racevictim/deep/d.log"
ln -s ../victim "$root/App/data"
ln -s "$root/racevictim" "$root/App/prepared"

watched="$root/App/logs/aaa/a1000.log"
(
    # No sleep while the pass runs: it empties aaa within milliseconds. Every wait is bounded.
    until [ -e "$watched" ]; do
        [ $SECONDS -lt 240 ] || exit 0
        sleep 0.05
    done
    until [ ! -e "$watched" ]; do [ $SECONDS -lt 240 ] || exit 0; done
    if mv -T "$root/App/logs/evil" "$root/App/evil-away" && mv -T "$root/App/prepared" "$root/App/logs/evil"; then
        echo swapped >"$root/swapper.result"
    else
        echo "not swapped" >"$root/swapper.result"
    fi
) &
swapper=$!

status=0
"$wine_run" "$@" || status=$?
kill "$swapper" 2>/dev/null || true
exit $status
