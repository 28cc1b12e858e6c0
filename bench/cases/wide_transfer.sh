# A region of 4.5 GiB (from 256 MiB to 4.75 GiB of a 5 GiB file) moved by Get out of a
# good instance into its transfer file and by Put into a copy, against dd moving the
# same bytes both ways (skip/seek in bytes, conv=notrunc), best of two rounds. The
# files are sparse; the bytes moved are written whole. Needs 14 GiB free in the work folder and takes a
# minute or two.
[[ -x $BENCH_BIN/tessaly-cli ]] || bench_skip "no tessaly-cli in $BENCH_BIN"
free_kib=$(df --output=avail -k . | tail -n 1)
(( free_kib >= 14 * 1024 * 1024 )) || bench_skip "a 4.5 GiB region needs 14 GiB free here"
le() {
    local value=$1 count=$2 i
    for ((i = 0; i < count; i++)); do printf "\\x$(printf %02x $(((value >> (8 * i)) & 255)))"; done
}
size=$((5 << 30))
offset=$((256 << 20))
length=$((4608 << 20))
mkdir good copy
# The wide log: "AC64", reserved bytes, fill 0, the name, one region, the end record.
{
    printf 'AC64\0\0\0\0'
    le 0 4
    le 8 2
    printf 'disk.img'
    le $offset 8; le $length 8
    le $size 8; le 0 8
} >good/disk.img.log
cp good/disk.img.log copy/disk.img.log
truncate -s $size good/disk.img copy/disk.img
medium_image good/pattern.bin 64M --seed 9
# Real bytes at the region's start and end; the rest reads as zeros.
dd if=good/pattern.bin of=good/disk.img bs=1M seek=$((offset >> 20)) conv=notrunc status=none
dd if=good/pattern.bin of=good/disk.img bs=1M seek=$((((offset + length) >> 20) - 64)) conv=notrunc status=none
rm good/pattern.bin
sync
best() { sort -g | head -n 1; }
# Best of two rounds; in each, tessaly-cli and dd alternate, from a synced disk.
gets=() puts=() dd_gets=() dd_puts=()
for round in 1 2; do
    sync
    gets+=("$(bench_seconds "$BENCH_BIN/tessaly-cli" get good/disk.img.log)")
    [[ $(stat -c %s good/disk.img.mrd) -eq $length ]] || echo "Get wrote $(stat -c %s good/disk.img.mrd) bytes" >&2
    mv good/disk.img.mrd copy/disk.img.mrd
    sync
    dd_gets+=("$(bench_seconds dd if=good/disk.img of=good/disk.img.dd bs=1M iflag=skip_bytes,count_bytes skip=$offset count=$length status=none)")
    sync
    puts+=("$(bench_seconds "$BENCH_BIN/tessaly-cli" put copy/disk.img.log)")
    if [[ $round == 1 ]]; then
        cmp good/disk.img copy/disk.img >&2 || echo "Put left the copy unlike the good instance" >&2
    fi
    rm copy/disk.img.mrd
    truncate -s 0 copy/disk.img && truncate -s $size copy/disk.img
    sync
    dd_puts+=("$(bench_seconds dd if=good/disk.img.dd of=copy/disk.img bs=1M oflag=seek_bytes seek=$offset conv=notrunc status=none)")
    rm -f good/disk.img.dd
    truncate -s 0 copy/disk.img && truncate -s $size copy/disk.img
done
get=$(printf '%s\n' "${gets[@]}" | best)
put=$(printf '%s\n' "${puts[@]}" | best)
dd_get=$(printf '%s\n' "${dd_gets[@]}" | best)
dd_put=$(printf '%s\n' "${dd_puts[@]}" | best)
echo "rounds: get ${gets[*]}, dd ${dd_gets[*]}; put ${puts[*]}, dd ${dd_puts[*]}" >&2
bench_result wide_get_4.5GiB "$get" s
bench_result wide_put_4.5GiB "$put" s
bench_result wide_get_dd_4.5GiB "$dd_get" s
bench_result wide_put_dd_4.5GiB "$dd_put" s
bench_result wide_get_put_time_over_dd "$(awk -v a="$get" -v b="$put" -v c="$dd_get" -v d="$dd_put" 'BEGIN { printf "%.2f", (a + b) / (c + d) }')" x
