#!/usr/bin/env bash
# Builds and runs the fuzz targets with clang's libFuzzer, AddressSanitizer and UBSan.
#   run-fuzz.sh build FUZZ_BUILD            configure and build the targets (clang only); the
#                                           other modes build first as well
#   run-fuzz.sh smoke FUZZ_BUILD            each target a few seconds over the seeds, then the
#                                           sanitized allocation sweep (make test)
#   run-fuzz.sh long FUZZ_BUILD SECONDS     each target SECONDS long, its corpus kept in
#                                           FUZZ_BUILD/corpus (make fuzz)
# Where clang++ with libFuzzer is missing it says so in one line and exits 77 (skipped).
set -uo pipefail
mode=${1:?usage: run-fuzz.sh build|smoke|long FUZZ_BUILD [SECONDS]}
build=${2:?usage: run-fuzz.sh build|smoke|long FUZZ_BUILD [SECONDS]}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
targets="stub_loader format_reader manifest differential"

clang=$(command -v clang++ || command -v clang++-14 || true)
if [ -z "$clang" ] || ! echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
        "$clang" -x c++ -fsanitize=fuzzer,address -o /dev/null - 2>/dev/null; then
    echo "fuzz: skipped: clang++ with libFuzzer is not installed (Debian: apt-get install clang)"
    exit 77
fi

# Every mode builds first (a no-op when the build is current).
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_FUZZ=ON \
        -DCMAKE_C_COMPILER="${clang%++*}" -DCMAKE_CXX_COMPILER="$clang" ${CMAKE_ARGS:-} >/dev/null || exit 1
fi
cmake --build "$build" -j "${JOBS:-2}" >"$build/build.log" 2>&1 || { cat "$build/build.log"; exit 1; }
[ "$mode" = build ] && exit 0

# The seeds of a target: the chains for the readers, the manifests for the manifest loader.
seeds_of() { [ "$1" = manifest ] && echo "$here/seeds/manifests" || echo "$here/seeds/chains"; }

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
case $mode in
smoke)
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    for target in $targets; do
        mkdir -p "$work/$target"
        # Every seed is run first; then a few seconds of mutation from them.
        if "$build/tests/fuzz/fuzz_$target" -max_total_time="${FUZZ_SMOKE_SECONDS:-3}" -print_final_stats=1 \
                -artifact_prefix="$work/" "$work/$target" "$(seeds_of "$target")" >"$work/$target.log" 2>&1; then
            echo "fuzz: $target: $(grep -m1 'stat::number_of_executed_units' "$work/$target.log" | awk '{print $2}') runs, no finding"
        else
            echo "fuzz: $target: FINDING"; grep -E 'FINDING|ERROR|SUMMARY|runtime error' "$work/$target.log" | head -5
            ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* 2>/dev/null | head -3 | while read -r f; do
                echo "  input: $(od -An -tx1 -v "$f" | tr -d '\n' | head -c 400)"; done
            status=1
        fi
    done
    "$build/tests/fuzz/alloc_sweep" "$here/seeds/chains" || status=1
    ;;
long)
    seconds=${3:?usage: run-fuzz.sh long FUZZ_BUILD SECONDS}
    for target in $targets; do
        mkdir -p "$build/corpus/$target" "$build/findings"
        echo "fuzz: $target for $seconds s"
        nice -n 10 "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$build/findings/$target-" "$build/corpus/$target" "$(seeds_of "$target")" \
            >"$build/$target.log" 2>&1 || status=1
        grep -E 'stat::number_of_executed_units|stat::peak_rss|FINDING|ERROR' "$build/$target.log" | tail -4
        echo "  edges: $(grep -oE 'cov: [0-9]+' "$build/$target.log" | tail -1)"
    done
    "$build/tests/fuzz/alloc_sweep" "$here/seeds/chains" || status=1
    found=$(find "$build/findings" -type f | wc -l)
    echo "fuzz: $([ "$found" = 0 ] && [ $status = 0 ] && echo "no findings" || echo "FINDINGS: see $build/findings and the logs in $build")"
    ;;
*) echo "usage: run-fuzz.sh build|smoke|long FUZZ_BUILD [SECONDS]"; exit 2 ;;
esac
exit $status
