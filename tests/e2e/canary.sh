#!/usr/bin/env bash
# Runs the canary property test: makes, for every seed, the folder that a link inside the
# installation points at (links can only be made from the Linux side under Wine 8), then starts
# the test program through wine-run.sh. QUILLON_CANARY_SEEDS="FIRST-LAST" names the seeds (1-3).
#   canary.sh WINE_RUN PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
wine_run=$1
prefix=$2
shift 2

source "$(dirname "$0")/../harness/wine-env.sh"
root=$(fresh_drive_c_folder "$wine_run" "$prefix" "$1" quillon-canary)
seeds=${QUILLON_CANARY_SEEDS:-1-3}
first=${seeds%-*}
last=${seeds#*-}
for seed in $(seq "$first" "$last"); do
    mkdir -p "$root/s$seed/App" "$root/s$seed/victim/sub"
    echo x >"$root/s$seed/victim/keep.txt"
    echo x >"$root/s$seed/victim/sub/deep.txt"
    ln -s ../victim "$root/s$seed/App/linked"
done
exec "$wine_run" "$@"
