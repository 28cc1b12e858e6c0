# Many small files: a tree of 2,000 files of 4 KiB (20 folders of 100) copied by
# tessaly-cli and by cp -r in the same run (best of three each). Reports files per
# second of both, the time ratio and (with strace) the system calls per file of
# both. Runs on the work folder's file system, and again on /dev/shm when it is a
# tmpfs: the copy reads its sources unbuffered, so on a disk every one of its
# reads waits for the disk while cp reads the page cache.
# Also against a floor (tessaly-small-files-floor: the same unbuffered reads, the copy
# synced before its log goes, a log created and deleted beside it and the folder synced,
# in one thread), best of three.
# Targets: tessaly-cli at 1,000 files/s or more, and at 0.9 times the floor's speed.
[[ -x $BENCH_BIN/tessaly-cli ]] || bench_skip "no tessaly-cli in $BENCH_BIN"
files=2000
best() { sort -g | head -n 1; }
per() { awk -v a="$1" -v b="$2" "BEGIN { printf \"$3\", (b > 0 ? a / b : 0) }"; }
# Calls of every thread, failed ones included, over the whole program run.
calls() { strace -f -c -o "$1" "${@:2}" >/dev/null 2>&1; awk '$NF == "total" { print $(NF-2) + 0 }' "$1"; }

# small_files_on FOLDER SUFFIX: the measurements in FOLDER, named with SUFFIX.
small_files_on() {
    local top=$1 suffix=$2 cli_times=() cp_times=() floor_times=()
    echo "file system of $top: $(df --output=fstype "$top" | tail -n 1)" >&2
    for d in $(seq -w 1 20); do
        mkdir -p "$top/tree/d$d"
        for f in $(seq -w 1 100); do head -c 4096 /dev/urandom >"$top/tree/d$d/f$f"; done
    done
    sync
    for round in 1 2 3; do
        rm -rf "$top/out-cli" "$top/out-cp" "$top/out-floor" && mkdir "$top/out-cli" "$top/out-cp"
        cli_times+=("$(bench_seconds "$BENCH_BIN/tessaly-cli" copy --quiet "$top/tree" "$top/out-cli")")
        cp_times+=("$(bench_seconds cp -r "$top/tree" "$top/out-cp")")
        if [[ -x $BENCH_BIN/tessaly-small-files-floor ]]; then
            floor_times+=("$(bench_seconds "$BENCH_BIN/tessaly-small-files-floor" "$top/tree" "$top/out-floor" 2>/dev/null)")
        fi
    done
    local copied cli cp
    copied=$(find "$top/out-cli" -type f | wc -l)
    [[ $copied -eq $files ]] || echo "tessaly-cli copied $copied of $files files" >&2
    cli=$(printf '%s\n' "${cli_times[@]}" | best)
    cp=$(printf '%s\n' "${cp_times[@]}" | best)
    bench_result "small_files_cli$suffix" "$(per $files "$cli" %.0f)" files/s
    bench_result "small_files_cp$suffix" "$(per $files "$cp" %.0f)" files/s
    bench_result "small_files_time_cli_over_cp$suffix" "$(per "$cli" "$cp" %.1f)" x
    if [[ ${#floor_times[@]} -gt 0 ]]; then
        local floor
        floor=$(printf '%s\n' "${floor_times[@]}" | best)
        bench_result "small_files_floor$suffix" "$(per $files "$floor" %.0f)" files/s
        # Speed of tessaly-cli as a share of the floor's: 1 is as fast as the floor.
        bench_result "small_files_cli_speed_over_floor$suffix" "$(per "$floor" "$cli" %.2f)" x
    fi
    if command -v strace >/dev/null; then
        rm -rf "$top/out-cli" "$top/out-cp" && mkdir "$top/out-cli" "$top/out-cp"
        local cli_calls cp_calls
        cli_calls=$(calls strace-cli.txt "$BENCH_BIN/tessaly-cli" copy --quiet "$top/tree" "$top/out-cli")
        cp_calls=$(calls strace-cp.txt cp -r "$top/tree" "$top/out-cp")
        bench_result "small_files_syscalls_cli$suffix" "$(per "$cli_calls" $files %.1f)" calls/file
        bench_result "small_files_syscalls_cp$suffix" "$(per "$cp_calls" $files %.1f)" calls/file
        sort -k4 -g -r strace-cli.txt | awk 'NR <= 8 && $NF != "total" { print "  " $NF, $4 }' >&2
    else
        echo "no strace: system calls not counted" >&2
    fi
    rm -rf "$top/tree" "$top/out-cli" "$top/out-cp" "$top/out-floor"
}

small_files_on "$PWD" ""
if [[ $(df --output=fstype /dev/shm 2>/dev/null | tail -n 1) == tmpfs ]]; then
    shm=$(mktemp -d /dev/shm/tessaly-bench-XXXXXX)
    trap 'rm -rf "$shm"' EXIT
    small_files_on "$shm" _tmpfs
fi
