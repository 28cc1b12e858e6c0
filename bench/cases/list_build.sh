# Building the copy list of a large tree: 100,000 empty files in 100 folders,
# listed by tessaly-list-bench as tessaly-cli copy lists them, against `find` over
# the same tree; and 100,000 names given twice to one list (the duplicate check
# alone). Target: 100,000 entries in under 2 s.
[[ -x $BENCH_BIN/tessaly-list-bench ]] || bench_skip "no tessaly-list-bench in $BENCH_BIN"
for d in $(seq -w 1 100); do
    mkdir -p tree/d$d
    (cd tree/d$d && seq -f "f%04g" 1 1000 | xargs touch)
done
read -r listed seconds < <("$BENCH_BIN/tessaly-list-bench" tree)
[[ $listed -eq 100000 ]] || echo "listed $listed of 100000 files" >&2
# find reads every file's size too, as the list does.
find_seconds=$(bench_seconds find tree -type f -printf '%s\n')
bench_result list_build_tree_100k "$seconds" s
bench_result list_build_find_100k "$find_seconds" s
bench_result list_build_time_over_find "$(awk -v a="$seconds" -v b="$find_seconds" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }')" x
read -r named seconds < <("$BENCH_BIN/tessaly-list-bench" --entries 100000)
[[ $named -eq 100000 ]] || echo "kept $named of 100000 names" >&2
bench_result list_build_named_100k_twice "$seconds" s
