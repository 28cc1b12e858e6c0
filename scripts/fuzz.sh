#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) into build-fuzz/, apart from the g++ build, and runs
# each for SECONDS (default 60), one after the other, from the seed corpora of
# scripts/fuzz_seeds.sh and what earlier runs found (build-fuzz/corpus/TARGET).
# Prints the executions of each; exits 1 when a target found a fault (the input
# is kept as build-fuzz/artifacts/TARGET-*, the report in build-fuzz/TARGET.log).
# TESSALY_FUZZ_TARGETS="get put" runs only those.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=$top/build-fuzz
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALY_FUZZ=ON -DTESSALY_WITH_GUI=OFF \
    -DTESSALY_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" --target fuzzers -j "$(nproc)" >/dev/null
"$top/scripts/fuzz_seeds.sh" "$build/seeds"

failed=0
for target in ${TESSALY_FUZZ_TARGETS:-copy_log language get put resume volume}; do
    program=$build/bin/fuzz_$target
    [ -x "$program" ] || continue
    mkdir -p "$build/corpus/$target" "$build/artifacts"
    log=$build/$target.log
    if "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
        "$build/corpus/$target" "$build/seeds/$target" >"$log" 2>&1; then
        result=clean
    else
        result="FAULT (see $log)"
        failed=1
        tail -n 40 "$log" >&2
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    echo "fuzz_$target: ${runs:-?} executions in ${seconds} s, $result"
done
exit $failed
