#!/bin/sh
# Runs every built fuzz target for a number of inputs and prints the rate.
#   scripts/fuzz.sh [runs] [build folder]     (defaults: 1000000, build)
# Configure with -DTERNBELL_FUZZ=ON (clang) and build the fuzz_* targets first.
set -u
runs=${1:-1000000}
build=${2:-build}
src=$(cd "$(dirname "$0")/.." && pwd)
out="$build/fuzz"
status=0
found=0
for exe in "$out"/fuzz_*; do
    [ -x "$exe" ] || continue
    found=1
    what=$(basename "$exe"); what=${what#fuzz_}
    corpus="$out/corpus-$what"
    mkdir -p "$corpus"
    seeds=
    [ -d "$src/tests/fuzz/corpus/$what" ] && seeds="$src/tests/fuzz/corpus/$what"
    log="$out/$what.log"
    start=$(date +%s%N)
    "$exe" -runs="$runs" -timeout=5 -max_len=8192 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$out/$what-" "$corpus" $seeds >"$log" 2>&1
    rc=$?
    end=$(date +%s%N)
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    secs=$(awk "BEGIN { printf \"%.1f\", ($end - $start) / 1e9 }")
    if [ "$rc" -eq 0 ]; then result=ok; else result="FAILED (rc $rc, see $log)"; status=1; fi
    printf '%-14s %12s inputs %10s exec/s %8s s  %s\n' "$what" "${execs:-?}" "${rate:-?}" "$secs" "$result"
done
if [ "$found" -eq 0 ]; then
    echo "no fuzz targets in $out (configure with -DTERNBELL_FUZZ=ON and build them)" >&2
    exit 2
fi
exit $status
