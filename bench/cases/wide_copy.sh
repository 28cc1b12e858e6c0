# A file of 6 GiB: a sparse undamaged image served by the simulated medium, copied by
# tessaly-cli (a wide log's range, 64-bit offsets throughout) and read by
# dd iflag=direct bs=1M into a file of its own, in the same run. Reports both wall
# times and their ratio. Needs 14 GiB free in the work folder (each copy is written
# whole, one after the other) and takes a minute or two.
[[ -x $BENCH_BIN/tessaly-cli ]] || bench_skip "no tessaly-cli in $BENCH_BIN"
free_kib=$(df --output=avail -k . | tail -n 1)
(( free_kib >= 14 * 1024 * 1024 )) || bench_skip "6 GiB copies need 14 GiB free here"
medium_image source/big.img 6G --sparse --seed 6
medium_mount source medium
mkdir out-cli out-dd
sync
cli=$(bench_seconds "$BENCH_BIN/tessaly-cli" copy --quiet medium/big.img out-cli)
[[ $(stat -c %s out-cli/big.img) -eq $((6 << 30)) ]] || echo "tessaly-cli copied $(stat -c %s out-cli/big.img) bytes" >&2
rm -f out-cli/big.img
sync
dd=$(bench_seconds dd if=medium/big.img of=out-dd/big.img bs=1M iflag=direct status=none)
rm -f out-dd/big.img
medium_unmount medium
bench_result wide_copy_6GiB_cli "$cli" s
bench_result wide_copy_6GiB_dd_direct "$dd" s
bench_result wide_copy_time_cli_over_dd "$(awk -v a="$cli" -v b="$dd" 'BEGIN { printf "%.2f", a / b }')" x
