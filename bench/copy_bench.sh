#!/usr/bin/env bash
# Copy benchmarks of tessaly-cli. Builds nothing: run it after a build.
#
#   bench/copy_bench.sh [BUILD_DIR]        (default: build)
#
# Prints figures and ratios measured in this one run; it asserts nothing.
#   1. healthy medium: a 1 GiB file copied by tessaly-cli, by dd (bs=102400,
#      direct input) and by cp: wall and CPU time, peak memory;
#   2. many small files: 2,000 files of 4 KiB in a tree, tessaly-cli against cp -r;
#   3. damaged medium: an image with slow bad sectors served by tessaly-medium
#      (FUSE), tessaly-cli at --optimize=0 and 1 against ddrescue -d: recovered
#      bytes, read calls that reached the medium, wall time.
# Scratch space: $BENCH_DIR (default: a new folder under /var/tmp), removed at the end.
# BENCH_SIZE_MIB changes the size of the healthy file (default 1024).
set -euo pipefail

BUILD=${1:-build}
CLI=$BUILD/bin/tessaly-cli
MEDIUM=$BUILD/bin/tessaly-medium
BENCH_BUILD=$BUILD
source "$(dirname "$0")/lib.sh"
SIZE_MIB=${BENCH_SIZE_MIB:-1024}
[[ -x $CLI ]] || { echo "no $CLI: build first" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "needs /usr/bin/time (package time)" >&2; exit 2; }

WORK=${BENCH_DIR:-$(mktemp -d /var/tmp/tessaly-bench.XXXXXX)}
cleanup() {
    medium_unmount_all
    rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$WORK"

# Evicts a file's pages from the cache, so every reader starts from the disk.
evict() { dd if="$1" iflag=nocache count=0 status=none 2>/dev/null || true; }

# measure NAME COMMAND...: runs it under /usr/bin/time; sets WALL, CPU, RSS_KIB.
measure() {
    local name=$1; shift
    local t="$WORK/time.$name"
    /usr/bin/time -f '%e %U %S %M' -o "$t" "$@" >/dev/null 2>"$WORK/err.$name" || true
    read -r WALL user sys RSS_KIB < <(tail -n 1 "$t")
    CPU=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

echo "== healthy medium: ${SIZE_MIB} MiB file on $(df --output=source "$WORK" | tail -n 1)"
SRC="$WORK/healthy.bin"
head -c "$((SIZE_MIB * 1048576))" /dev/urandom >"$SRC"
sync
declare -A walls cpus wall cpu rss
# One measurement of a copy into an empty folder, from a cold cache.
run_healthy() {
    local name=$1; shift
    rm -rf "$WORK/dst"; mkdir -p "$WORK/dst"; sync; evict "$SRC"
    measure "$name" "$@"
    sync
    walls[$name]+="$WALL "; cpus[$name]+="$CPU "
    if (( ${RSS_KIB} > ${rss[$name]:-0} )); then rss[$name]=$RSS_KIB; fi
}
median() { tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# The page cache's write-back of the previous copy weighs on the next one, so the
# three programs take turns, three rounds, and each one's median counts.
for round in 1 2 3; do
    run_healthy tessaly-cli "$CLI" copy --quiet "$SRC" "$WORK/dst"
    cmp -s "$SRC" "$WORK/dst/healthy.bin" || echo "  !! tessaly-cli copy differs from the source"
    run_healthy dd dd if="$SRC" of="$WORK/dst/healthy.bin" bs=102400 iflag=direct status=none
    run_healthy cp cp "$SRC" "$WORK/dst/healthy.bin"
done
for name in tessaly-cli dd cp; do
    wall[$name]=$(median "${walls[$name]}"); cpu[$name]=$(median "${cpus[$name]}")
    printf '  %-12s wall %7.2f s  cpu %6.2f s  peak RSS %7d KiB  (median of: %s)\n' \
        "$name" "${wall[$name]}" "${cpu[$name]}" "${rss[$name]}" "${walls[$name]% }"
done
echo "  tessaly-cli / dd:  wall $(ratio "${wall[tessaly-cli]}" "${wall[dd]}")  cpu $(ratio "${cpu[tessaly-cli]}" "${cpu[dd]}")   (target: wall <= 1.10)"
echo "  tessaly-cli / cp:  wall $(ratio "${wall[tessaly-cli]}" "${wall[cp]}")  cpu $(ratio "${cpu[tessaly-cli]}" "${cpu[cp]}")"
echo "  tessaly-cli peak memory: $(awk -v k="${rss[tessaly-cli]}" 'BEGIN { printf "%.1f", k / 1024 }') MiB (target: < 16 MiB)"
rm -f "$SRC"; rm -rf "$WORK/dst"

echo "== many small files: 2000 files of 4 KiB"
TREE="$WORK/tree"
for d in $(seq -w 1 20); do
    mkdir -p "$TREE/d$d"
    for f in $(seq -w 1 100); do head -c 4096 /dev/urandom >"$TREE/d$d/f$f"; done
done
sync
mkdir -p "$WORK/small-cli" "$WORK/small-cp"
measure small-cli "$CLI" copy --quiet "$TREE" "$WORK/small-cli"
cli_wall=$WALL
measure small-cp cp -r "$TREE" "$WORK/small-cp"
cp_wall=$WALL
printf '  tessaly-cli %6.2f s = %s files/s (target: >= 1000)\n' "$cli_wall" "$(ratio 2000 "$cli_wall")"
printf '  cp -r       %6.2f s = %s files/s;  time ratio tessaly-cli / cp: %s\n' "$cp_wall" "$(ratio 2000 "$cp_wall")" "$(ratio "$cli_wall" "$cp_wall")"
copied=$(find "$WORK/small-cli" -type f | wc -l)
[[ $copied -eq 2000 ]] || echo "  !! tessaly-cli copied $copied files"
rm -rf "$TREE" "$WORK/small-cli" "$WORK/small-cp"

echo "== damaged medium (FUSE, slow bad sectors)"
if [[ ! -x $MEDIUM ]] || [[ ! -e /dev/fuse ]] || ! command -v ddrescue >/dev/null; then
    echo "  SKIPPED: needs $MEDIUM, /dev/fuse and ddrescue (package gddrescue)"
    exit 0
fi
IMAGES="$WORK/images"; MNT="$WORK/mnt"
mkdir -p "$IMAGES" "$MNT"
# 32 MiB: a scratched stretch, scattered bad sectors and a long dead stretch;
# every read that touches a bad sector waits 5 ms before it fails.
head -c $((32 * 1048576)) /dev/urandom >"$IMAGES/damaged.bin"
cat >"$IMAGES/damaged.bin.map" <<'MAP'
bad 2000-2063
bad 10000
bad 10500
bad 20007
bad 30000-30999
bad 50000-50003
slow 2000-2063 5
slow 10000 5
slow 10500 5
slow 20007 5
slow 30000-30999 5
slow 50000-50003 5
MAP
if ! medium_mount "$IMAGES" "$MNT" 2>"$WORK/medium.log"; then
    echo "  SKIPPED: the medium could not be mounted: $(cat "$WORK/medium.log")"
    exit 0
fi
reads() { awk '$1 == "/damaged.bin" { print $(NF - 1) }' "$MNT/.counts"; }
# Bytes of the copy that equal the image, counted per 512-byte sector.
recovered() {
    python3 - "$IMAGES/damaged.bin" "$1" <<'PY'
import sys
a = open(sys.argv[1], 'rb').read(); b = open(sys.argv[2], 'rb').read()
print(sum(512 for i in range(0, len(a), 512) if a[i:i + 512] == b[i:i + 512]))
PY
}
total=$((32 * 1048576))
readable=$((total - (64 + 1 + 1 + 1 + 1000 + 4) * 512))
echo "  image $total bytes, readable $readable bytes"
printf '  %-18s %12s %10s %9s\n' tool recovered reads wall_s
damaged_run() {
    local name=$1 out=$2; shift 2
    local before; before=$(reads); before=${before:-0}
    measure "$name" "$@"
    local after; after=$(reads)
    printf '  %-18s %12s %10s %9s\n' "$name" "$(recovered "$out")" "$((after - before))" "$WALL"
}
for x in 0 1; do
    rm -rf "$WORK/dmg"; mkdir -p "$WORK/dmg"
    damaged_run "tessaly-cli opt=$x" "$WORK/dmg/damaged.bin" \
        "$CLI" copy --quiet --optimize=$x "$MNT/damaged.bin" "$WORK/dmg"
done
rm -rf "$WORK/dmg"; mkdir -p "$WORK/dmg"
damaged_run "ddrescue -d" "$WORK/dmg/damaged.bin" \
    ddrescue -d -q "$MNT/damaged.bin" "$WORK/dmg/damaged.bin" "$WORK/dmg/damaged.map"
