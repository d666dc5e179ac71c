#!/usr/bin/env bash
# Runs the benchmark of a Windows build under Wine and writes docs/benchmarks.md.
#
#   bench/run-bench.sh --win32 BUILD [--out FOLDER] [--doc FILE] [--smoke] [options]
#
# BUILD is a Windows build folder of either flavour (build/win32 or build/win64; `make bench` takes
# the one that runs at full speed on this host). NSIS makes 32-bit uninstallers only: they take part
# where this host runs 32-bit programs natively, and are left out (with the reason in the report)
# where it does not.
#
# Steps: makes sure makensis is there (installs Debian's nsis when missing, except in the smoke
# run, which then leaves NSIS out and says so); has quillon-bench.exe write the uninstallers, the
# raw program's call lists and the NSIS scripts; builds the NSIS installers with makensis; has
# quillon-bench.exe run the interleaved repetitions, with tree_helper.py creating each tree; runs
# the same comparison once more on a tree on the disk; and turns the results into the report.
#
# Settings (options win over the environment):
#   --n LIST        QUILLON_BENCH_N           sizes n of W(n)                     default 1000,10000,100000
#   --reps K        QUILLON_BENCH_REPS        repetitions per program             default 5
#   --trace-reps K  QUILLON_BENCH_TRACE_REPS  runs of the traced stub and the in-use probe per n   default 3
#   --load-n N      QUILLON_BENCH_LOAD_N      entries of the load test            default 100000
#   --load-reps K   QUILLON_BENCH_LOAD_REPS   repetitions of the load test        default 5
#   --absent-n N    QUILLON_BENCH_ABSENT_N    entries of the run over files already gone (0: none)   default 1000
#   --disk-n N      QUILLON_BENCH_DISK_N      n of the comparison on a tree on the disk (0: none)    default 10000
#   --pin-n N       QUILLON_BENCH_PIN_N       n of the comparison with the other CPU setting (0: none) default 10000
#   --tree-dir DIR  QUILLON_BENCH_TREE_DIR    where the main run's trees live     default: a folder in /dev/shm
#   --pin CPU|none  QUILLON_BENCH_PIN         run Wine (server and programs) on this CPU only      default 0
#   --sync          QUILLON_BENCH_SYNC=1      flush the file system after creating each tree       default: not flushed
# --smoke runs n = 1,000 with one repetition of everything, checks that every program removed all
# it should, and writes no document. The exit value is 0 only when every run succeeded.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
win32=""
out=""
doc="$repo/docs/benchmarks.md"
smoke=0
ns=${QUILLON_BENCH_N:-1000,10000,100000}
reps=${QUILLON_BENCH_REPS:-5}
trace_reps=${QUILLON_BENCH_TRACE_REPS:-3}
load_n=${QUILLON_BENCH_LOAD_N:-100000}
load_reps=${QUILLON_BENCH_LOAD_REPS:-5}
absent_n=${QUILLON_BENCH_ABSENT_N:-1000}
disk_n=${QUILLON_BENCH_DISK_N:-10000}
pin_n=${QUILLON_BENCH_PIN_N:-10000}
tree_dir=${QUILLON_BENCH_TREE_DIR:-}
pin=${QUILLON_BENCH_PIN:-0}
sync=${QUILLON_BENCH_SYNC:-0}

while [ $# -gt 0 ]; do
    case $1 in
        --win32) win32=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        --doc) doc=$2; shift 2 ;;
        --smoke) smoke=1; shift ;;
        --n) ns=$2; shift 2 ;;
        --reps) reps=$2; shift 2 ;;
        --trace-reps) trace_reps=$2; shift 2 ;;
        --load-n) load_n=$2; shift 2 ;;
        --load-reps) load_reps=$2; shift 2 ;;
        --absent-n) absent_n=$2; shift 2 ;;
        --disk-n) disk_n=$2; shift 2 ;;
        --pin-n) pin_n=$2; shift 2 ;;
        --tree-dir) tree_dir=$2; shift 2 ;;
        --pin) pin=$2; shift 2 ;;
        --sync) sync=1; shift ;;
        *) echo "run-bench.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
[ -n "$win32" ] || { echo "usage: run-bench.sh --win32 BUILD_WIN32 [options]" >&2; exit 2; }
win32=$(cd "$win32" && pwd)
source "$win32/flavour.env"
if [ "$smoke" = 1 ]; then
    ns=1000; reps=1; trace_reps=1; load_n=1000; load_reps=1; absent_n=100; disk_n=0; pin_n=0
fi
[ -n "$out" ] || out="$win32/bench/run"
# Pinned by default: with Wine's server and the program on one CPU, each call into the server is
# a switch on the same CPU instead of a wake-up on the other one, and repetitions scatter far less.
[ "$pin" != none ] || pin=""

for program in bench/quillon-bench.exe bench/bench-raw-remove.exe bench/bench-probe.exe \
               bench/quillon-stub-traced.exe "$QUILLON_STUB"; do
    [ -f "$win32/$program" ] || { echo "run-bench.sh: $win32/$program is missing: build first" >&2; exit 1; }
done

# makensis: the benchmark installs it; the smoke run does without it. Its uninstallers are 32-bit.
flavour_reason="the flavour that runs at full speed on this host"
nsis_left_out=""
if [ "$("$repo/tools/host-kind.sh")" != i386 ]; then
    nsis_left_out="NSIS left out: its uninstallers are 32-bit, and this host runs 32-bit programs only through emulation or not at all"
    flavour_reason="this host cannot run 32-bit programs at full speed"
    echo "run-bench.sh: $nsis_left_out"
elif ! command -v makensis >/dev/null 2>&1; then
    if [ "$smoke" = 1 ]; then
        echo "run-bench.sh: makensis not found: NSIS is left out of this smoke run (install the Debian package nsis)"
    else
        echo "run-bench.sh: installing Debian's nsis for makensis"
        sudo=""
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo apt-get install -y nsis >/dev/null
    fi
fi
nsis_version=""
[ -n "$nsis_left_out" ] || nsis_version=$(command -v makensis >/dev/null 2>&1 && makensis -VERSION || true)

# Windows paths: the prefix maps Z: to the Unix root.
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

export QUILLON_RUN_TIMEOUT=${QUILLON_RUN_TIMEOUT:-3600}
wine_run="$win32/wine-run.sh"
driver="$win32/bench/quillon-bench.exe"
prefix_env() { WINEPREFIX="$win32/wineprefix" "$@"; }
# The prefix exists before its drive letters are set (measure gives each tree one).
(source "$repo/tests/harness/wine-env.sh" && use_build_prefix "$win32" && prepare_wine_prefix)

# Where the trees live. Creating a file costs a few hundred microseconds on these machines' disk,
# against a few on tmpfs: with 150,000 files a tree, five repetitions of three programs at
# n = 100,000 took longer to prepare than the 20 minutes the whole benchmark may take. So the
# main run's trees are in memory by default, and one size is compared on the disk as well. The
# folders are named after the build, so that builds benchmarking at the same time stay apart.
build_tag="$(id -u).$(printf '%s' "$win32" | md5sum | cut -c1-8)"
if [ -z "$tree_dir" ]; then
    if [ -d /dev/shm ] && [ -w /dev/shm ] && [ "$(df -Pk /dev/shm | awk 'NR==2 {print $4}')" -gt 2000000 ]; then
        tree_dir="/dev/shm/quillon-bench.$build_tag"
    else
        tree_dir="$win32/wineprefix/drive_c/quillon-bench"
    fi
fi
disk_tree_dir="$win32/wineprefix/drive_c/quillon-bench-disk"

# set_pin CPU|"": how Wine's server and the programs are scheduled in the next measurement.
set_pin() {
    pin_command=()
    setup="not pinned: Wine's server and the programs go wherever the scheduler puts them"
    if [ -n "$1" ]; then
        pin_command=(taskset -c "$1")
        setup="pinned: Wine's server and every program on CPU $1 (taskset -c $1)"
    fi
}

helper=""
cleanup() {
    if [ -n "$helper" ]; then kill "$helper" 2>/dev/null || true; wait "$helper" 2>/dev/null || true; fi
    helper=""
    rm -rf "$tree_dir" "$disk_tree_dir"
}
trap cleanup EXIT

# measure LABEL TREE_DIR NS REPS TRACE_REPS LOAD_N LOAD_REPS ABSENT_N: one whole run into $out/LABEL.
measure() {
    local label=$1 tree=$2 sizes=$3 repetitions=$4 traced=$5 load_entries=$6 load_repetitions=$7 absent=$8
    local dir="$out/$label"
    mkdir -p "$dir/work" "$dir/exchange"
    rm -rf "$tree"
    mkdir -p "$tree"
    local root work_w results
    # The tree gets a drive letter of its own. Reached through Z:, its path would cross the mount
    # points of the Unix side (/dev, /dev/shm), which Wine shows as reparse points, and the
    # uninstaller rightly follows none that an unprivileged user could have made.
    ln -sfn "$tree" "$win32/wineprefix/dosdevices/q:"
    root='Q:'
    work_w=$(windows_path "$dir/work")
    results="$dir/results.jsonl"
    : > "$results"

    echo "== $label: preparing W(n) for n = $sizes, L($load_entries) and L($absent) in $tree"
    "$wine_run" "$driver" prepare --root "$root" --work "$work_w" \
        --stub "$(windows_path "$win32/$QUILLON_STUB")" \
        --traced "$(windows_path "$win32/bench/quillon-stub-traced.exe")" --n "$sizes" \
        --load-n "$load_entries" --absent-n "$absent"
    if [ -n "$nsis_version" ]; then
        for n in ${sizes//,/ }; do
            echo "== $label: makensis nsis-$n.nsi"
            local made_start made_end
            made_start=$(date +%s.%N)
            (cd "$dir/work" && makensis -V1 "nsis-$n.nsi")
            made_end=$(date +%s.%N)
            awk -v n="$n" -v a="$made_start" -v b="$made_end" 'BEGIN { printf "%s\t%.1f\n", n, b - a }' >> "$dir/makensis.tsv"
        done
    fi

    # The trees are made natively by the tree helper, on the driver's request.
    local sync_args=() tree_text
    tree_text="created natively in $tree before each run and not flushed to disk"
    if [ "$sync" = 1 ]; then
        sync_args=(--sync)
        tree_text="created natively in $tree before each run and flushed to disk (sync) before the timing starts"
    fi
    python3 "$here/tree_helper.py" --exchange "$dir/exchange" --root "$tree" --listings "$dir/work" \
        "${sync_args[@]}" &
    helper=$!

    # The measurement starts from a stopped Wine server, so that the server runs with the same CPU
    # setting as the programs (a server started earlier keeps its own).
    prefix_env wineserver -k >/dev/null 2>&1 || true
    local load_before load_after started finished status=0
    load_before=$(cut -d' ' -f1-3 /proc/loadavg)
    started=$(date +%s)
    echo "== $label: running ($setup)"
    "${pin_command[@]}" "$wine_run" "$driver" run --root "$root" --work "$work_w" \
        --bin "$(windows_path "$win32/bench")" --tree-helper "$(windows_path "$dir/exchange")" \
        --results "$(windows_path "$results")" --n "$sizes" --reps "$repetitions" --trace-reps "$traced" \
        --load-n "$load_entries" --load-reps "$load_repetitions" --absent-n "$absent" || status=$?
    finished=$(date +%s)
    prefix_env wineserver -k >/dev/null 2>&1 || true
    cleanup
    load_after=$(cut -d' ' -f1-3 /proc/loadavg)

    cat > "$dir/machine.json" <<EOF
{"nproc": "$(nproc)",
 "cpu": "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')",
 "wine": "$(/usr/lib/wine/wine64 --version)",
 "makensis": "$nsis_version",
 "nsis_left_out": "$nsis_left_out",
 "flavour": "$QUILLON_FLAVOUR",
 "flavour_reason": "$flavour_reason",
 "kernel": "$(uname -r)",
 "date": "$(date -u '+%Y-%m-%d %H:%M UTC')",
 "source": "$source",
 "setup": "$setup",
 "tree": "$tree_text",
 "load_before": "$load_before",
 "load_after": "$load_after",
 "duration_s": $((finished - started)),
 "ns": "$sizes", "reps": $repetitions, "trace_reps": $traced, "load_n": $load_entries,
 "load_reps": $load_repetitions, "absent_n": $absent}
EOF
    return $status
}

# The source the build came from: the commit, and whether the work tree differed from it.
source="not a git work tree"
if commit=$(git -C "$repo" rev-parse --short HEAD 2>/dev/null); then
    source="commit $commit"
    [ -z "$(git -C "$repo" status --porcelain --untracked-files=no 2>/dev/null)" ] || source="$source with uncommitted changes"
fi

rm -rf "$out"
mkdir -p "$out"
began=$(date +%s)
status=0
set_pin "$pin"
measure main "$tree_dir" "$ns" "$reps" "$trace_reps" "$load_n" "$load_reps" "$absent_n" || status=1
# The same comparison in the two other setups that move the ratios: the tree on the disk, and the
# other CPU setting (pinned to CPU 0 when the main run was not pinned, and the reverse).
if [ "$disk_n" -gt 0 ] && [ "$tree_dir" != "$win32/wineprefix/drive_c/quillon-bench" ]; then
    measure disk "$disk_tree_dir" "$disk_n" "$reps" 0 0 0 0 || status=1
fi
if [ "$pin_n" -gt 0 ]; then
    if [ -n "$pin" ]; then set_pin ""; else set_pin 0; fi
    measure cpu "$tree_dir" "$pin_n" "$reps" 0 0 0 0 || status=1
fi
elapsed=$(( $(date +%s) - began ))

report_args=(--results "$out/main/results.jsonl" --machine "$out/main/machine.json" --work "$out/main/work"
             --stub "$win32/$QUILLON_STUB" --map "$win32/src/quillon-stub.map"
             --module-map "$win32/bench/quillon-stub-traced.map" --elapsed "$elapsed")
# The other flavour's stub, when the sibling build folder holds one: its size goes beside this one's.
if [ "$QUILLON_FLAVOUR" = x64 ]; then other="$(dirname "$win32")/win32/quillon-stub.exe" other_flavour=x86
else other="$(dirname "$win32")/win64/quillon-stub64.exe" other_flavour=x64; fi
[ -f "$other" ] && report_args+=(--other-stub "$other" "$other_flavour")
for extra in disk cpu; do
    if [ -f "$out/$extra/results.jsonl" ]; then
        report_args+=(--extra "$extra" "$out/$extra/results.jsonl" "$out/$extra/machine.json")
    fi
done
if [ "$smoke" = 1 ]; then
    python3 "$here/report.py" "${report_args[@]}" --check-smoke || status=1
else
    python3 "$here/report.py" "${report_args[@]}" --doc "$doc" || status=1
    echo "== wrote $doc"
fi
echo "== finished in $elapsed s"
exit $status
