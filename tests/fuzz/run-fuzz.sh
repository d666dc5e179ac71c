#!/usr/bin/env bash
# Builds and runs the fuzz targets with clang's libFuzzer, AddressSanitizer and UBSan.
#   run-fuzz.sh build FUZZ_BUILD            configure and build the targets (clang only); the
#                                           other modes build first as well
#   run-fuzz.sh smoke FUZZ_BUILD            each target a few seconds over the seeds, then the
#                                           sanitized allocation sweep (make test)
#   run-fuzz.sh long FUZZ_BUILD SECONDS     each target SECONDS long, its corpus kept in
#                                           FUZZ_BUILD/corpus, then the coverage below (make fuzz)
#   run-fuzz.sh coverage FUZZ_BUILD         replays the seeds and FUZZ_BUILD/corpus through a build
#                                           instrumented for line coverage (FUZZ_BUILD/coverage) and
#                                           prints the line coverage of the code under test
# Where clang++ with libFuzzer is missing it says so in one line and exits 77 (skipped).
set -uo pipefail
usage="usage: run-fuzz.sh build|smoke|long|coverage FUZZ_BUILD [SECONDS]"
mode=${1:?$usage}
build=${2:?$usage}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
targets="stub_loader format_reader manifest differential"

clang=$(command -v clang++ || command -v clang++-14 || true)
if [ -z "$clang" ] || ! echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
        "$clang" -x c++ -fsanitize=fuzzer,address -o /dev/null - 2>/dev/null; then
    echo "fuzz: skipped: clang++ with libFuzzer is not installed (Debian: apt-get install clang)"
    exit 77
fi

# Configures (once) and builds the fuzz targets in $1, with any further CMake settings given.
build_targets() {
    local dir=$1; shift
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$source_dir" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_FUZZ=ON \
            -DCMAKE_C_COMPILER="${clang%++*}" -DCMAKE_CXX_COMPILER="$clang" ${CMAKE_ARGS:-} "$@" >/dev/null || return 1
    fi
    cmake --build "$dir" -j "${JOBS:-2}" >"$dir/build.log" 2>&1 || { cat "$dir/build.log"; return 1; }
}

# Every mode builds first (a no-op when the build is current).
build_targets "$build" || exit 1
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
    "$0" coverage "$build" || status=1
    echo "fuzz: $([ "$found" = 0 ] && [ $status = 0 ] && echo "no findings" || echo "FINDINGS: see $build/findings and the logs in $build")"
    ;;
coverage)
    # Line coverage from clang's source-based instrumentation: every seed and corpus input is run
    # once (-runs=0 mutates nothing), then the counts are reported for the stub's loading code and
    # the packer's two readers.
    profdata=$(command -v llvm-profdata-14 || command -v llvm-profdata || true)
    llvmcov=$(command -v llvm-cov-14 || command -v llvm-cov || true)
    if [ -z "$profdata" ] || [ -z "$llvmcov" ]; then
        echo "fuzz: coverage skipped: llvm-profdata and llvm-cov are not installed (Debian: apt-get install llvm)"
        exit 0
    fi
    cov=$build/coverage
    mkdir -p "$cov"
    # Without a compiler launcher: ccache may record the sources' paths relative to its base
    # folder, and the report below names them absolute.
    build_targets "$cov" -DQUILLON_FUZZ_COVERAGE=ON -DCMAKE_CXX_COMPILER_LAUNCHER= -DCMAKE_C_COMPILER_LAUNCHER= || exit 1
    rm -rf "$cov/profiles" && mkdir -p "$cov/profiles"
    binaries=()
    for target in $targets; do
        corpus=()
        [ -d "$build/corpus/$target" ] && corpus=("$build/corpus/$target")
        LLVM_PROFILE_FILE="$cov/profiles/$target-%p.profraw" "$cov/tests/fuzz/fuzz_$target" -runs=0 \
            "$(seeds_of "$target")" "${corpus[@]}" >"$cov/$target.log" 2>&1 ||
            { echo "fuzz: coverage: $target failed on its own inputs (see $cov/$target.log)"; status=1; }
        binaries+=("$cov/tests/fuzz/fuzz_$target")
    done
    "$profdata" merge -sparse "$cov"/profiles/*.profraw -o "$cov/all.profdata" || exit 1
    # The line column of the TOTAL row of llvm-cov's report over the files given, all targets counted.
    objects=("${binaries[0]}")
    for binary in "${binaries[@]:1}"; do objects+=(-object "$binary"); done
    line_coverage() {
        # Functions of the same name in several targets (their entry points) differ; that is expected.
        "$llvmcov" report "${objects[@]}" -instr-profile="$cov/all.profdata" "$@" 2> >(grep -v 'mismatched data' >&2) |
            awk '$1 == "TOTAL" { print $10 " of " $8 " lines" }'
    }
    echo "fuzz: line coverage, every seed and corpus input run once:"
    echo "  the stub's loading code (src/data):  $(line_coverage "$source_dir"/src/data/*.cpp)"
    echo "  the packer's reader:                 $(line_coverage "$source_dir/pack/format_reader.cpp")"
    echo "  the manifest loader:                 $(line_coverage "$source_dir/pack/manifest.cpp")"
    ;;
*) echo "$usage"; exit 2 ;;
esac
exit $status
