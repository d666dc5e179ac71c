#!/usr/bin/env bash
# Runs the whole test suite of a Windows build folder: native tests, in-process tests of the
# stub's procedures under Wine, and end-to-end tests of packed uninstallers. One virtual display
# serves the whole run; the build's own Wine server is stopped at the end, and nothing else.
set -uo pipefail
build=${1:?usage: run-tests.sh BUILD_WIN32 [ctest args...]}
shift
build=$(cd "$build" && pwd)
source "$(dirname "$0")/wine-env.sh"
use_wine_prefix "$build/wineprefix"
trap stop_wine_prefix EXIT

xvfb-run -a -s "-screen 0 1024x768x24" \
    ctest --test-dir "$build" --output-on-failure --timeout 600 "$@"
