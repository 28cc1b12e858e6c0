#!/usr/bin/env bash
# What the trim and retry passes recover, against ddrescue on the same damaged
# images. Builds nothing: run it after a build.
#
#   bench/trim_bench.sh [BUILD_DIR]        (default: build)
#
# Four 8 MiB images served by tessaly-medium (FUSE), a fresh mount for every run
# so that weak sectors fail again:
#   a. scattered: 60 single bad sectors;
#   b. dead run: 2,000 bad sectors in a row, each read touching them waits 2 ms;
#   c. weak: 300 sectors that fail their first read;
#   d. weak blocks: 40 scattered blocks of 8 sectors, each sector failing its first
#      two reads (a read touching a sector counts for it).
# For each: tessaly-cli copy (default settings, --no-trim, --retry-passes=0, and
# --optimize=1 over b) against ddrescue -d and ddrescue -d -r2 (and -d -n over b):
# bytes recovered (sectors equal to the image), readable bytes of the image, failed
# reads and all reads that reached the medium (from its /.counts), filled regions
# left in the copy's log, wall time. Prints the figures of this one run and asserts
# nothing; a few minutes in all.
set -euo pipefail

BUILD=${1:-build}
CLI=$BUILD/bin/tessaly-cli
BENCH_BUILD=$BUILD
source "$(dirname "$0")/lib.sh"
[[ -x $CLI ]] || { echo "no $CLI: build first" >&2; exit 2; }
if [[ ! -x $BENCH_BIN/tessaly-medium ]] || [[ ! -e /dev/fuse ]] || ! command -v ddrescue >/dev/null; then
    echo "SKIPPED: needs $BENCH_BIN/tessaly-medium, /dev/fuse and ddrescue (package gddrescue)"
    exit 0
fi

WORK=$(mktemp -d /var/tmp/tessaly-trim-bench.XXXXXX)
cleanup() {
    medium_unmount_all
    rm -rf "$WORK"
}
trap cleanup EXIT
IMAGES=$WORK/images MNT=$WORK/mnt OUT=$WORK/out
mkdir -p "$IMAGES" "$MNT" "$OUT"

SIZE=8M
medium_image "$IMAGES/scattered.bin" $SIZE --seed 3 --random-bad 60
medium_image "$IMAGES/deadrun.bin" $SIZE --seed 4 --map 'bad 6000-7999;slow 6000-7999 2'
medium_image "$IMAGES/weak.bin" $SIZE --seed 5 --random-weak 300:1
# 40 blocks of 8 sectors, one every 400 sectors from sector 100 on.
medium_image "$IMAGES/weakblocks.bin" $SIZE --seed 6 \
    --map "$(for b in $(seq 0 39); do for k in $(seq 0 7); do
        printf 'weak %d 2;' $((100 + b * 400 + k)); done; done)"

# Sectors of the copy equal to the image, in bytes, and the image's readable bytes.
recovered() {
    python3 - "$IMAGES/$1" "$2" <<'PY'
import sys
a = open(sys.argv[1], 'rb').read()
try:
    b = open(sys.argv[2], 'rb').read()
except OSError:
    b = b''
print(sum(512 for i in range(0, len(a), 512) if a[i:i + 512] == b[i:i + 512]))
PY
}
readable() { medium_readable "$IMAGES/$1"; }
# Filled regions the copy's log lists (end record left out); "-" without a log.
log_regions() {
    [[ -f $1 ]] || { echo 0; return; }
    python3 - "$1" <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read()
n = struct.unpack_from('<H', d, 12)[0]
recs = [struct.unpack_from('<II', d, i) for i in range(14 + n, len(d) - 7, 8)]
print(sum(1 for o, l in recs if l))
PY
}

printf '%-10s %-30s %10s %10s %7s %7s %8s %7s\n' image tool recovered readable failed reads regions wall_s
# run IMAGE NAME COMMAND...: a fresh mount, the command timed, its counts.
run() {
    local image=$1 name=$2; shift 2
    rm -rf "$OUT"; mkdir -p "$OUT"
    medium_mount "$IMAGES" "$MNT"
    local wall
    wall=$(bench_seconds "$@" || true)
    local counts
    counts=$(awk -v p="/$image" '$1 == p { print $(NF - 1), $NF }' "$MNT/.counts")
    medium_unmount "$MNT"
    local reads=${counts% *} failed=${counts#* }
    printf '%-10s %-30s %10s %10s %7s %7s %8s %7s\n' "${image%.bin}" "$name" \
        "$(recovered "$image" "$OUT/$image")" "$(readable "$image")" "$failed" "$reads" \
        "$(log_regions "$OUT/$image.log")" "${wall:-fail}"
}
# tessaly-cli exits 1 when fills remain: that is no failure here.
cli() { "$CLI" copy --quiet --keep-clean-log "$@" || [[ $? -eq 1 ]]; }

for image in scattered.bin deadrun.bin weak.bin weakblocks.bin; do
    run $image "tessaly-cli" cli "$MNT/$image" "$OUT"
    run $image "tessaly-cli --retry-passes=0" cli --retry-passes=0 "$MNT/$image" "$OUT"
    run $image "tessaly-cli --no-trim" cli --no-trim "$MNT/$image" "$OUT"
    if [[ $image == deadrun.bin ]]; then
        run $image "tessaly-cli --optimize=1" cli --optimize=1 "$MNT/$image" "$OUT"
        run $image "tessaly-cli -o1 --no-trim" cli --optimize=1 --no-trim "$MNT/$image" "$OUT"
        run $image "ddrescue -d -n" ddrescue -d -q -n "$MNT/$image" "$OUT/$image" "$OUT/$image.map"
    fi
    run $image "ddrescue -d" ddrescue -d -q "$MNT/$image" "$OUT/$image" "$OUT/$image.map"
    run $image "ddrescue -d -r2" ddrescue -d -q -r2 "$MNT/$image" "$OUT/$image" "$OUT/$image.map"
done
