# 2,000 files of 4 KiB in 20 folders copied through the copier's window (offscreen,
# Add folder and Start), against tessaly-cli copy of the same tree in the same run.
# Every copy is compared with its source.
bench=$BENCH_BIN/tessaly-window-bench
[ -x "$bench" ] || bench_skip "no $bench"
export XDG_CONFIG_HOME=$BENCH_WORK/profile QT_QPA_PLATFORM=offscreen
mkdir -p tree out-window out-cli "$XDG_CONFIG_HOME"
for d in $(seq -w 1 20); do
    mkdir -p "tree/d$d"
    for f in $(seq -w 1 100); do head -c 4096 /dev/urandom >"tree/d$d/f$f"; done
done
sync
window=$("$bench" copy "$BENCH_WORK/tree" "$BENCH_WORK/out-window" \
    | awk '$2 == "window_copy_seconds" { print $3 }')
cli=$(bench_seconds "$BENCH_BIN/tessaly-cli" copy --quiet "$BENCH_WORK/tree" "$BENCH_WORK/out-cli")
# Both keep the tree's path below the mount point of its volume.
root=$(df --output=target "$BENCH_WORK/tree" | tail -n 1)
for out in out-window out-cli; do
    copy=$(realpath -m "$out/${BENCH_WORK#"$root"}/tree")
    diff -r tree "$copy" >/dev/null || echo "$out: the copies differ from their sources" >&2
done
bench_result window_copy_2000x4K_files_per_s "$(awk -v s="$window" 'BEGIN { printf "%.0f", 2000 / s }')" files/s
bench_result cli_copy_2000x4K_files_per_s "$(awk -v s="$cli" 'BEGIN { printf "%.0f", 2000 / s }')" files/s
bench_result window_vs_cli_time_ratio "$(awk -v w="$window" -v c="$cli" 'BEGIN { printf "%.2f", w / c }')" x
