#!/usr/bin/env bash
# The canary property test over many seeds (make soak SEEDS=N), outside CTest's time limit, in
# the build's own Wine prefix; prints its time at the end.
#   canary-soak.sh BUILD SEEDS
set -uo pipefail
build=$(cd "${1:?usage: canary-soak.sh BUILD SEEDS}" && pwd)
seeds=${2:?usage: canary-soak.sh BUILD SEEDS}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../harness/wine-env.sh"
use_build_prefix "$build"
trap stop_wine_prefix EXIT
start=$SECONDS
QUILLON_CANARY_SEEDS="1-$seeds" QUILLON_RUN_TIMEOUT=$((seeds * 60 + 120)) \
    "$here/canary.sh" "$build/wine-run.sh" "$build/wineprefix" "$build/tests/e2e/e2e_canary.exe"
status=$?
echo "canary soak: $seeds seeds in $((SECONDS - start)) s, $([ $status = 0 ] && echo passed || echo FAILED)"
exit $status
