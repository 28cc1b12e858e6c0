# Many small files: a tree of 2,000 files of 4 KiB (20 folders of 100) copied by
# tessaly-cli and by cp -r in the same run, on the work folder's file system.
# Reports files per second of both, the time ratio, and (with strace) the system
# calls per file of both. Target: tessaly-cli at 1,000 files/s or more.
[[ -x $BENCH_BIN/tessaly-cli ]] || bench_skip "no tessaly-cli in $BENCH_BIN"
files=2000
for d in $(seq -w 1 20); do
    mkdir -p tree/d$d
    for f in $(seq -w 1 100); do head -c 4096 /dev/urandom >tree/d$d/f$f; done
done
sync
best() { sort -g | head -n 1; }
cli_times=() cp_times=()
for round in 1 2 3; do
    rm -rf out-cli out-cp && mkdir out-cli out-cp
    cli_times+=("$(bench_seconds "$BENCH_BIN/tessaly-cli" copy --quiet tree out-cli)")
    cp_times+=("$(bench_seconds cp -r tree out-cp)")
done
copied=$(find out-cli -type f | wc -l)
[[ $copied -eq $files ]] || echo "tessaly-cli copied $copied of $files files" >&2
cli=$(printf '%s\n' "${cli_times[@]}" | best)
cp=$(printf '%s\n' "${cp_times[@]}" | best)
bench_result small_files_cli "$(awk -v s="$cli" -v n=$files 'BEGIN { printf "%.0f", n / s }')" files/s
bench_result small_files_cp "$(awk -v s="$cp" -v n=$files 'BEGIN { printf "%.0f", n / s }')" files/s
bench_result small_files_time_cli_over_cp "$(awk -v a="$cli" -v b="$cp" 'BEGIN { printf "%.1f", a / b }')" x
if command -v strace >/dev/null; then
    # Calls of every thread, failed ones included, over the whole program run.
    calls() { strace -f -c -o "$1" "${@:2}" >/dev/null 2>&1; awk '$NF == "total" { print $(NF-2) + 0 }' "$1"; }
    rm -rf out-cli out-cp && mkdir out-cli out-cp
    cli_calls=$(calls strace-cli.txt "$BENCH_BIN/tessaly-cli" copy --quiet tree out-cli)
    cp_calls=$(calls strace-cp.txt cp -r tree out-cp)
    bench_result small_files_syscalls_cli "$(awk -v c="$cli_calls" -v n=$files 'BEGIN { printf "%.1f", c / n }')" calls/file
    bench_result small_files_syscalls_cp "$(awk -v c="$cp_calls" -v n=$files 'BEGIN { printf "%.1f", c / n }')" calls/file
    sort -k4 -g -r strace-cli.txt | awk 'NR <= 8 && $NF != "total" { print "  " $NF, $4 }' >&2
else
    echo "no strace: system calls not counted" >&2
fi
