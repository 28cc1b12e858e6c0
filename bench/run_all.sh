#!/usr/bin/env bash
# Runs every benchmark case (bench/cases/*.sh, in name order, or those named on the
# command line) against the programs of a build, and prints their results as a table.
#
#   bench/run_all.sh [-b BUILD_DIR] [CASE...]
#
# Each case runs in its own work folder with BENCH_BUILD, BENCH_BIN and BENCH_WORK
# set and lib.sh sourced, and reports lines "RESULT NAME VALUE UNIT". The table is
# also written to BUILD_DIR/bench-results.txt. Needs /dev/fuse and fusermount3 (or
# root) for the cases that read from the simulated medium.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$here/../build
if [ "${1:-}" = "-b" ]; then
    build=$2
    shift 2
fi
BENCH_BUILD=$(cd "$build" && pwd)
export BENCH_BUILD

for program in tessaly-medium tessaly-medium-image; do
    if [ ! -x "$BENCH_BUILD/bin/$program" ]; then
        echo "$BENCH_BUILD/bin/$program is missing: build the project first" >&2
        exit 1
    fi
done

cases=()
if [ $# -gt 0 ]; then
    for name in "$@"; do cases+=("$here/cases/${name%.sh}.sh"); done
else
    cases=("$here"/cases/*.sh)
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-bench-XXXXXX")
results=$work/results
: >"$results"
failed=0
for case in "${cases[@]}"; do
    name=$(basename "$case" .sh)
    mkdir -p "$work/$name"
    echo "== $name" >&2
    # Each case in a shell of its own that stops at its first failure and ends its
    # mounts whatever happens.
    if ! BENCH_WORK=$work/$name BENCH_LIB=$here/lib.sh BENCH_CASE=$case bash -euo pipefail -c '
        source "$BENCH_LIB"
        trap medium_unmount_all EXIT
        cd "$BENCH_WORK"
        source "$BENCH_CASE"' | tee -a "$results" | { grep -v "^RESULT " >&2 || true; }; then
        echo "   $name FAILED" >&2
        failed=1
    fi
done

table=$BENCH_BUILD/bench-results.txt
{
    echo "# $(date -u '+%Y-%m-%d %H:%M UTC') $(uname -r) $(nproc) cores"
    awk '$1 == "RESULT" { printf "%-40s %14s %s\n", $2, $3, $4 }' "$results"
} | tee "$table"
rm -rf "$work"
exit $failed
