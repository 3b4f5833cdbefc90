#!/bin/sh
# Builds the report fuzzer (clang with AddressSanitizer and UndefinedBehavior-
# Sanitizer) and runs it, starting from a copy of fuzz/corpus/.
#
#   fuzz/run.sh short          bounded run for CI: 20,000 inputs in all
#   fuzz/run.sh long [RUNS]    RUNS inputs in all (default 1,000,000)
#
# The inputs are shared out over JOBS processes that fuzz side by side, each
# taking up new inputs the others found.
#
# Environment:
#   BUILD_DIR   build folder (default build-fuzz)
#   WORK_DIR    scratch folder for the working corpus, logs and crash inputs
#               (default: a new folder under $TMPDIR or /tmp, kept after a long run or a finding)
#   JOBS        processes (default 2)
#
# Exits non-zero when the fuzzer finds anything: a crash, a sanitizer report, a
# leak, a timeout (10 s) or memory beyond the limits. The input that caused it is
# left in WORK_DIR/artifacts/ (crash-*, leak-*, timeout-*, oom-*).
set -eu

cd "$(dirname "$0")/.."
ROOT=$(pwd)
# shellcheck source=tools/lib.sh
. tools/lib.sh
BUILD_DIR=${BUILD_DIR:-build-fuzz}
JOBS=${JOBS:-2}
MODE=${1:-}

case $MODE in
short) RUNS=20000 ;;
long) RUNS=${2:-1000000} ;;
*)
    echo "usage: fuzz/run.sh short | long [RUNS]" >&2
    exit 2
    ;;
esac
case $RUNS$JOBS in
*[!0-9]*)
    echo "run.sh: RUNS and JOBS must be numbers" >&2
    exit 2
    ;;
esac
[ "$JOBS" -ge 1 ] || JOBS=1

# --- build --------------------------------------------------------------------
generator=
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
    generator="-G Ninja"
fi
say "building the fuzz target in $BUILD_DIR"
build_start=$(date +%s)
# shellcheck disable=SC2086 # $generator is empty or two words
cmake -S . -B "$BUILD_DIR" $generator -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DSVODAR_SANITIZE=ON -DSVODAR_FUZZ=ON \
    -DBUILD_TESTING=OFF >/dev/null
cmake --build "$BUILD_DIR" --target svodar-fuzz-report -j "$(nproc)"
say "build took $(($(date +%s) - build_start)) s"
FUZZER=$BUILD_DIR/fuzz/svodar-fuzz-report

# --- run ----------------------------------------------------------------------
if [ -n "${WORK_DIR:-}" ]; then
    WORK=$WORK_DIR
    mkdir -p "$WORK"
else
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/svodar-fuzz.XXXXXX")
fi
# New inputs go to the scratch copy only; fuzz/corpus/ stays as committed.
mkdir -p "$WORK/corpus" "$WORK/artifacts"
cp "$ROOT"/fuzz/corpus/* "$WORK/corpus/"

# Every finding ends the process that meets it.
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:allocator_may_return_null=0
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS UBSAN_OPTIONS

per_job=$(((RUNS + JOBS - 1) / JOBS))
say "running $JOBS x $per_job inputs ($MODE run); work folder $WORK"
run_start=$(date +%s)
pids=
job=1
while [ "$job" -le "$JOBS" ]; do
    "$FUZZER" -runs="$per_job" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
        -max_len=8192 -dict="$ROOT/fuzz/report.dict" -print_final_stats=1 \
        -artifact_prefix="$WORK/artifacts/" "$WORK/corpus" \
        >"$WORK/job$job.log" 2>&1 &
    pids="$pids $!"
    job=$((job + 1))
done

status=0
job=1
for pid in $pids; do
    if ! wait "$pid"; then
        status=1
        say "job $job found something; its log: $WORK/job$job.log"
        grep -E 'ERROR|SUMMARY|fuzz_report:|Test unit written' "$WORK/job$job.log" >&2 || true
    fi
    job=$((job + 1))
done
say "run took $(($(date +%s) - run_start)) s"

# Totals over all jobs, from libFuzzer's final statistics.
for f in "$WORK"/job*.log; do
    grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb):' "$f" || true
    grep -E '^#[0-9]+ +(DONE|INITED)' "$f" | tail -n 1 || true
done | awk '
    /^stat::number_of_executed_units/ { units += $2 }
    /^stat::average_exec_per_sec/ { rate += $2 }
    /^stat::peak_rss_mb/ { if ($2 > rss) rss = $2 }
    /DONE/ { last = $0 }
    END {
        printf "== executions: %d, exec/s: %d (all jobs), peak RSS of a job: %d MB\n", units, rate, rss
        if (last != "") print "== last job: " last
    }' >&2

if [ "$status" -ne 0 ]; then
    say "findings in $WORK/artifacts/"
    exit 1
fi
if [ "$MODE" = short ] && [ -z "${WORK_DIR:-}" ]; then
    rm -rf "$WORK"
else
    say "corpus grown in $WORK/corpus"
fi
