#!/usr/bin/env bash
# How much of a failing disk's readable data comes off it within a time budget, and
# at the cost of how many failed reads, against ddrescue in the same run. Builds
# nothing: run it after a build.
#
#   bench/easy_first_bench.sh [BUILD_DIR]        (default: build)
#
# EASY_SIZE (default 4G) sizes the two large images, EASY_BUDGET (default 120) is the
# time budget in seconds, EASY_DELAY (default 20) the milliseconds a read touching a
# bad sector of the dead head waits before it fails. Images served by tessaly-medium
# (FUSE), a fresh mount for every run:
#   deadhead: a disk with one dead head: in every MiB the last 256 KiB cannot be
#             read, and a read that touches them waits EASY_DELAY ms first;
#   slowband: a tenth of the disk, in its middle, reads at 50 ms a read but reads;
#   scattered, weakblocks, deadrun: 8 MiB images as bench/trim_bench.sh makes them.
# For each: tessaly-cli copy at its defaults (the easy data first), at --optimize=1
# and in order (--no-easy-first), ddrescue -d and
# ddrescue -d -r2, each stopped by SIGINT at the budget (both save their map or log
# then): readable bytes read (the '+' of the map; tessaly-cli's log through
# `tessaly-cli map`), the image's readable bytes, failed reads and all reads that
# reached the medium (its /.counts), wall time (below the budget: the tool ended).
# Then the ratios of tessaly-cli at defaults to ddrescue -d: bytes read and failed
# reads. EASY_CASES (default all five) names the images to run, by the names above.
# Prints the figures of this one run and asserts nothing. The large images are
# sparse: they take little space, but each copy of them writes up to EASY_SIZE.
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
SIZE=${EASY_SIZE:-4G}
BUDGET=${EASY_BUDGET:-120}
DELAY=${EASY_DELAY:-20}
read -r -a CASES <<<"${EASY_CASES:-deadhead slowband scattered weakblocks deadrun}"

WORK=$(mktemp -d /var/tmp/tessaly-easy-bench.XXXXXX)
cleanup() {
    medium_unmount_all
    rm -rf "$WORK"
}
trap cleanup EXIT
IMAGES=$WORK/images MNT=$WORK/mnt OUT=$WORK/out
mkdir -p "$IMAGES" "$MNT" "$OUT"

# The large images: the pattern only where --sparse writes it, the damage in a map of
# our own (one statement per stretch; the command line could not hold them).
medium_image "$IMAGES/deadhead.bin" "$SIZE" --seed 7 --sparse
medium_image "$IMAGES/slowband.bin" "$SIZE" --seed 8 --sparse
python3 - "$IMAGES" "$DELAY" <<'PY'
import os, sys
images, delay = sys.argv[1], int(sys.argv[2])
sectors = os.path.getsize(images + '/deadhead.bin') // 512
with open(images + '/deadhead.bin.map', 'w') as out:
    for mib in range(sectors // 2048):
        first = mib * 2048 + 1536
        out.write(f'bad {first}-{first + 511}\nslow {first}-{first + 511} {delay}\n')
sectors = os.path.getsize(images + '/slowband.bin') // 512
with open(images + '/slowband.bin.map', 'w') as out:
    out.write(f'slow {sectors * 9 // 20}-{sectors * 11 // 20 - 1} 50\n')
PY
medium_image "$IMAGES/scattered.bin" 8M --seed 3 --random-bad 60
medium_image "$IMAGES/deadrun.bin" 8M --seed 4 --map 'bad 6000-7999;slow 6000-7999 2'
medium_image "$IMAGES/weakblocks.bin" 8M --seed 6 \
    --map "$(for b in $(seq 0 39); do for k in $(seq 0 7); do
        printf 'weak %d 2;' $((100 + b * 400 + k)); done; done)"

# Bytes a ddrescue mapfile lists as finished.
finished() {
    [[ -s $1 ]] || { echo 0; return; }
    python3 - "$1" <<'PY'
import sys
lines = [l.split() for l in open(sys.argv[1]) if l.strip() and not l.startswith('#')]
# The first line is the current position and phase; the blocks follow.
print(sum(int(w[1], 16) for w in lines[1:] if len(w) >= 3 and w[2] == '+'))
PY
}
readable() { medium_readable "$IMAGES/$1"; }

printf '%-10s %-24s %14s %14s %8s %8s %7s\n' image tool read readable failed reads wall_s
declare -A READ FAILED
# run IMAGE NAME MAP COMMAND...: a fresh mount, the command stopped at the budget.
run() {
    local image=$1 name=$2 map=$3; shift 3
    rm -rf "$OUT"; mkdir -p "$OUT"
    medium_mount "$IMAGES" "$MNT"
    local start wall
    start=$(date +%s.%N)
    timeout -s INT -k 30 "$BUDGET" "$@" >/dev/null 2>&1 || true
    wall=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
    local counts
    counts=$(awk -v p="/$image" '$1 == p { print $(NF - 1), $NF }' "$MNT/.counts")
    medium_unmount "$MNT"
    local reads=${counts% *} failed=${counts#* } bytes
    if [[ $map == log ]]; then
        "$CLI" map "$OUT/$image.log" --size="$(stat -c %s "$IMAGES/$image")" >"$OUT/from-log.map" 2>/dev/null || true
        bytes=$(finished "$OUT/from-log.map")
    else
        bytes=$(finished "$OUT/$image.map")
    fi
    READ["$image $name"]=$bytes
    FAILED["$image $name"]=$failed
    printf '%-10s %-24s %14s %14s %8s %8s %7s\n' "${image%.bin}" "$name" "$bytes" \
        "$(readable "$image")" "$failed" "$reads" "$wall"
}
cli=("$CLI" copy --quiet --keep-clean-log)

for case in "${CASES[@]}"; do
    image=$case.bin
    run $image "tessaly-cli" log "${cli[@]}" "$MNT/$image" "$OUT"
    run $image "tessaly-cli --optimize=1" log "${cli[@]}" --optimize=1 "$MNT/$image" "$OUT"
    run $image "tessaly-cli --no-easy-first" log "${cli[@]}" --no-easy-first "$MNT/$image" "$OUT"
    run $image "ddrescue -d" map ddrescue -d -q "$MNT/$image" "$OUT/$image" "$OUT/$image.map"
    run $image "ddrescue -d -r2" map ddrescue -d -q -r2 "$MNT/$image" "$OUT/$image" "$OUT/$image.map"
done

# ratios TOOL: its bytes read and failed reads over those of ddrescue -d, per image.
ratios() {
    for case in "${CASES[@]}"; do
        image=$case.bin
        awk -v i="${image%.bin}" -v a="${READ["$image $1"]}" -v b="${READ["$image ddrescue -d"]}" \
            -v f="${FAILED["$image $1"]}" -v g="${FAILED["$image ddrescue -d"]}" \
            'BEGIN { printf "  %-10s bytes read %6.2f x   failed reads %s\n", i, (b > 0 ? a / b : 0),
                     (g > 0 ? sprintf("%6.2f x", f / g) : (f > 0 ? "more (none for ddrescue)" : "none")) }'
    done
}
echo
echo "tessaly-cli at its defaults (the easy data first) over ddrescue -d, within $BUDGET s:"
ratios "tessaly-cli"
echo "tessaly-cli --no-easy-first (in order) over ddrescue -d, within $BUDGET s:"
ratios "tessaly-cli --no-easy-first"
