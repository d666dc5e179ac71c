#!/usr/bin/env bash
# Runs the test suite of one Windows build folder: in-process tests of the stub's procedures
# under Wine, end-to-end tests of packed uninstallers and, unless excluded, the native tests. One
# virtual display serves the whole run; the build's own Wine server is stopped at the end, and
# nothing else.
#   run-tests.sh BUILD [ctest args...]
set -uo pipefail
build=${1:?usage: run-tests.sh BUILD [ctest args...]}
shift
build=$(cd "$build" && pwd)
source "$(dirname "$0")/wine-env.sh"
use_build_prefix "$build"
trap stop_wine_prefix EXIT
export QUILLON_RESULTS="$build/test-results"
rm -rf "$QUILLON_RESULTS"
mkdir -p "$QUILLON_RESULTS"

xvfb-run -a -s "-screen 0 1024x768x24" \
    ctest --test-dir "$build" --output-on-failure --timeout 600 "$@"
