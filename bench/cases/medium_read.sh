# The simulated medium's own speed: unbuffered sequential reads of an undamaged
# image through FUSE, the ceiling of every copy benchmark that reads from it.
medium_image source/plain.bin 64M --seed 1
medium_mount source medium
for block in 64K 1M; do
    seconds=$(bench_seconds dd if=medium/plain.bin of=/dev/null bs=$block iflag=direct)
    bench_result "medium_read_direct_$block" \
        "$(awk -v s="$seconds" 'BEGIN { printf "%.1f", 64 / s }')" MiB/s
done
medium_unmount medium
