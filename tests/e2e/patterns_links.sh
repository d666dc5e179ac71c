#!/usr/bin/env bash
# Runs the link tests of the pattern pass. A Windows program cannot make a link under Wine 8:
# CreateSymbolicLinkA reports success and makes nothing, and "mklink /J" fails. A Unix symbolic
# link inside the prefix's drive_c, though, shows up in Windows as a folder carrying
# FILE_ATTRIBUTE_REPARSE_POINT. So this script makes the links from the Linux side, under
# C:\quillon-links, then starts the test program through wine-run.sh.
#   patterns_links.sh WINE_RUN PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
wine_run=$1
prefix=$2
shift 2

source "$(dirname "$0")/../harness/wine-env.sh"
root=$(fresh_drive_c_folder "$wine_run" "$prefix" "$1" quillon-links)
mkdir -p "$root/outside/sub" "$root/App/logs"
echo x >"$root/outside/keep.log"
echo x >"$root/outside/sub/deep.log"
ln -s ../../outside "$root/App/logs/link" # a link inside a pattern's tree
ln -s ../outside "$root/App/linked"       # a pattern's own folder that is a link

exec "$wine_run" "$@"
