# The simulated medium's own speed: unbuffered sequential reads of an undamaged
# image through FUSE, the ceiling of every copy benchmark that reads from it.
medium_image source/plain.bin 64M --seed 1
medium_mount source medium
passes=4
for block in 64K 1M; do
    seconds=$(bench_seconds bash -c "for i in \$(seq $passes); do
        dd if=medium/plain.bin of=/dev/null bs=$block iflag=direct status=none; done")
    bench_result "medium_read_direct_$block" \
        "$(awk -v s="$seconds" -v n=$passes 'BEGIN { printf "%.0f", 64 * n / s }')" MiB/s
done
medium_unmount medium
