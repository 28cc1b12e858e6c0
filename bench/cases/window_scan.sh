# Add folder over 100,000 files (100 folders of 1,000 empty files) in the copier's window,
# offscreen: the time until every file is listed, the longest gap between two ticks of
# a 5 ms timer meanwhile (the event loop stays free while the scan runs on its thread),
# and the program's peak memory.
bench=$BENCH_BIN/tessaly-window-bench
[ -x "$bench" ] || bench_skip "no $bench"
[ -x /usr/bin/time ] || bench_skip "needs /usr/bin/time (package time)"
export XDG_CONFIG_HOME=$BENCH_WORK/profile QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_CONFIG_HOME"
for d in $(seq -w 1 100); do
    mkdir -p "tree/d$d"
    (cd "tree/d$d" && seq -w 1 1000 | sed 's/^/file-/' | xargs touch)
done
/usr/bin/time -f 'RESULT window_scan_peak_memory %M KiB' -o memory.txt \
    "$bench" scan "$BENCH_WORK/tree"
cat memory.txt
