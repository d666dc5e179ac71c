#!/usr/bin/env bash
# Runs the benchmark of a Windows build under Wine and writes docs/benchmarks.md.
#
#   bench/run-bench.sh --win32 BUILD_WIN32 [--out FOLDER] [--doc FILE] [--smoke] [--pin CPU]
#
# Steps: makes sure makensis is there (installs Debian's nsis when missing, except in the smoke
# run, which then leaves NSIS out and says so); has quillon-bench.exe write the uninstallers, the
# raw program's call lists and the NSIS scripts; builds the NSIS installers with makensis; has
# quillon-bench.exe run the interleaved repetitions; and turns the results into the report.
#
# Settings (options win over the environment):
#   --n LIST           QUILLON_BENCH_N           sizes n of W(n)            default 1000,10000,100000
#   --reps K           QUILLON_BENCH_REPS        repetitions per program    default 5
#   --trace-reps K     QUILLON_BENCH_TRACE_REPS  runs of the traced stub and the in-use probe   default 3
#   --load-n N         QUILLON_BENCH_LOAD_N      entries of the load test   default 100000
#   --load-reps K      QUILLON_BENCH_LOAD_REPS   repetitions of the load test                   default 5
#   --pin CPU          QUILLON_BENCH_PIN         run Wine (server and programs) on this CPU only; default: not pinned
#   --sync             QUILLON_BENCH_SYNC=1      flush the file system after creating each tree; default: not flushed
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
pin=${QUILLON_BENCH_PIN:-}
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
        --pin) pin=$2; shift 2 ;;
        --sync) sync=1; shift ;;
        *) echo "run-bench.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
[ -n "$win32" ] || { echo "usage: run-bench.sh --win32 BUILD_WIN32 [options]" >&2; exit 2; }
win32=$(cd "$win32" && pwd)
if [ "$smoke" = 1 ]; then
    ns=1000; reps=1; trace_reps=1; load_n=1000; load_reps=1
fi
[ -n "$out" ] || out="$win32/bench/run"

for program in bench/quillon-bench.exe bench/bench-raw-remove.exe bench/bench-inuse-probe.exe \
               bench/quillon-stub-traced.exe quillon-stub.exe; do
    [ -f "$win32/$program" ] || { echo "run-bench.sh: $win32/$program is missing: build first" >&2; exit 1; }
done

# makensis: the benchmark installs it; the smoke run does without it.
if ! command -v makensis >/dev/null 2>&1; then
    if [ "$smoke" = 1 ]; then
        echo "run-bench.sh: makensis not found: NSIS is left out of this smoke run (install the Debian package nsis)"
    else
        echo "run-bench.sh: installing Debian's nsis for makensis"
        sudo=""
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo apt-get install -y nsis >/dev/null
    fi
fi

# Windows paths: the prefix maps Z: to the Unix root.
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

rm -rf "$out"
mkdir -p "$out/work"
work_w=$(windows_path "$out/work")
results="$out/results.jsonl"
: > "$results"
export QUILLON_RUN_TIMEOUT=${QUILLON_RUN_TIMEOUT:-3600}
wine_run="$win32/wine-run.sh"
driver="$win32/bench/quillon-bench.exe"
root='C:\quillon-bench'

started=$(date +%s)
echo "== preparing W(n) for n = $ns and L($load_n)"
"$wine_run" "$driver" prepare --root "$root" --work "$work_w" \
    --stub "$(windows_path "$win32/quillon-stub.exe")" \
    --traced "$(windows_path "$win32/bench/quillon-stub-traced.exe")" --n "$ns" --load-n "$load_n"

nsis_version=""
if command -v makensis >/dev/null 2>&1; then
    nsis_version=$(makensis -VERSION)
    for n in ${ns//,/ }; do
        echo "== makensis nsis-$n.nsi"
        (cd "$out/work" && makensis -V1 "nsis-$n.nsi")
    done
fi

# The measurement starts from a stopped Wine server, so that the server runs with the same CPU
# setting as the programs (a server started earlier keeps its own).
prefix_env() { WINEPREFIX="$win32/wineprefix" "$@"; }
prefix_env wineserver -k >/dev/null 2>&1 || true
pin_command=()
setup="not pinned: Wine's server and the programs go wherever the scheduler puts them"
if [ -n "$pin" ]; then
    pin_command=(taskset -c "$pin")
    setup="pinned: Wine's server and every program on CPU $pin (taskset -c $pin)"
fi
# The trees are created natively by the tree helper, on the driver's request (see tree_helper.py).
exchange="$out/exchange"
mkdir -p "$exchange"
sync_args=()
tree="created natively before each run and not flushed to disk"
if [ "$sync" = 1 ]; then
    sync_args=(--sync)
    tree="created natively before each run and flushed to disk (sync) before the timing starts"
fi
helper_args=(--tree-helper "$(windows_path "$exchange")")
if [ "${QUILLON_BENCH_TREE:-native}" = wine ]; then
    helper_args=()
    tree="created through Wine by the driver before each run and not flushed to disk"
    python3 -c 'import time; time.sleep(1e9)' &
else
    python3 "$here/tree_helper.py" --exchange "$exchange" --root "$win32/wineprefix/drive_c/quillon-bench" \
        --listings "$out/work" "${sync_args[@]}" &
fi
helper=$!
trap 'kill "$helper" 2>/dev/null || true' EXIT

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
echo "== running ($setup)"
status=0
"${pin_command[@]}" "$wine_run" "$driver" run --root "$root" --work "$work_w" \
    --bin "$(windows_path "$win32/bench")" "${helper_args[@]}" --results "$(windows_path "$results")" --n "$ns" --reps "$reps" \
    --trace-reps "$trace_reps" --load-n "$load_n" --load-reps "$load_reps" || status=$?
prefix_env wineserver -k >/dev/null 2>&1 || true
kill "$helper" 2>/dev/null || true
wait "$helper" 2>/dev/null || true
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
finished=$(date +%s)

cat > "$out/machine.json" <<EOF
{"nproc": "$(nproc)",
 "cpu": "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')",
 "wine": "$(wine --version)",
 "makensis": "$nsis_version",
 "kernel": "$(uname -r)",
 "date": "$(date -u '+%Y-%m-%d %H:%M UTC')",
 "setup": "$setup",
 "tree": "$tree",
 "load_before": "$load_before",
 "load_after": "$load_after",
 "duration_s": $((finished - started)),
 "ns": "$ns", "reps": $reps, "trace_reps": $trace_reps, "load_n": $load_n, "load_reps": $load_reps}
EOF

report_args=(--results "$results" --machine "$out/machine.json" --work "$out/work"
             --stub "$win32/quillon-stub.exe" --map "$win32/src/quillon-stub.map")
if [ "$smoke" = 1 ]; then
    python3 "$here/report.py" "${report_args[@]}" --check-smoke || status=1
else
    python3 "$here/report.py" "${report_args[@]}" --doc "$doc"
    echo "== wrote $doc"
fi
echo "== finished in $((finished - started)) s"
exit $status
