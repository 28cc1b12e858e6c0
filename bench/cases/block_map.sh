# The block map while a copy of a 4,000 MiB file with 200,000 unread sectors runs:
# the time of one update per poll (targets: under 2 ms on average, drawing only the
# cells that changed) and of a full repaint of the largest grid (under 20 ms).
if [ ! -x "$BENCH_BIN/tessaly-block-map-bench" ]; then
    bench_skip "tessaly-block-map-bench is not built (a build without the Qt programs)"
fi
"$BENCH_BIN/tessaly-block-map-bench"
