#!/usr/bin/env bash
# The demonstration of scripts/run.sh: a salvage from a simulated damaged medium.
# Mounts tessaly-medium over a few damaged files, copies them with tessaly-cli copy
# into a temporary folder, and shows per file what was read, what was filled and
# the regions of its copy log. Then the medium is pulled out in the middle of a
# copy and put back, and the same command continues the copy. Last, a backup of
# one damaged file turns up: get and put move the missing regions out of it into
# the damaged copy. Everything is unmounted and removed at the end.
#
# With --window, the copier's window opens on the worn floppy of the first part
# instead, copying into a fresh folder; closing it ends the demonstration.
#
#   scripts/demo.sh [--window] [BUILD_DIR]
#
# Needs /dev/fuse and root (or fusermount3).
set -euo pipefail
window=no
if [ "${1:-}" = "--window" ]; then
    window=yes
    shift
fi
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
bin=$build/bin
for program in tessaly-cli tessaly tessaly-medium tessaly-medium-image; do
    if [ ! -x "$bin/$program" ]; then
        echo "demo: $bin/$program is missing; build first (scripts/setup.sh)" >&2
        exit 1
    fi
done
if ! "$bin/tessaly-cli" copy --help >/dev/null 2>&1; then
    echo "demo: $bin/tessaly-cli has no copy command" >&2
    exit 1
fi
if [ ! -c /dev/fuse ]; then
    echo "demo: /dev/fuse is missing, so the damaged medium cannot be mounted" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-demo-XXXXXX")
source_dir=$work/medium
mnt=$work/mnt
out=$work/salvaged
mkdir -p "$source_dir" "$mnt" "$out"
BENCH_BUILD=$build BENCH_BIN=$bin
source "$(dirname "$0")/../bench/lib.sh"
mount_medium() { medium_mount "$source_dir" "$mnt" || exit 1; }
unmount_medium() { medium_unmount "$mnt"; }

cleanup() {
    unmount_medium
    mountpoint -q "$mnt" || rm -rf "$work"
}
trap cleanup EXIT

show_medium() {
    echo "The damaged medium:"
    (cd "$source_dir" && find . -type f ! -name '*.map' | sort | while read -r f; do
        damage=$(grep -v '^sector' "$f.map" 2>/dev/null | paste -sd ',' - || true)
        printf '  %-24s %8d bytes  %s\n' "${f#./}" "$(stat -c %s "$f")" "${damage:-no damage}"
    done)
}

# tessaly-cli copy with the arguments given; its report goes to $work/copy.out.
run_copy() {
    echo
    echo "tessaly-cli copy $*" | sed "s|$work/||g"
    local status=0
    "$bin/tessaly-cli" copy "$@" >"$work/copy.out" || status=$?
    sed "s|$work/||g" "$work/copy.out"
    echo "(exit status $status)"
}

# The records of a copy log before its end record, one "OFFSET LENGTH" a line.
log_records() {
    local log=$1 length
    length=$(od -A n -t u2 --endian=little -j 12 -N 2 "$log" | tr -d ' ')
    od -A n -t u4 --endian=little -v -j $((14 + length)) "$log" | tr -s ' ' '\n' |
        sed '/^$/d' | paste -d ' ' - - | awk '$2 == 0 { exit } { print }'
}

# The records as "OFFSET+LENGTH" items, touching records joined into one.
joined_regions() {
    awk 'NR > 1 && $1 == start + length_ { length_ += $2; next }
         NR > 1 { printf "%d+%d ", start, length_ }
         { start = $1; length_ = $2 }
         END { if (NR > 0) printf "%d+%d", start, length_ }'
}

# Bytes of a copy that differ from the original image outside the given regions.
wrong_bytes() {
    { cmp -l "$1" "$2" 2>/dev/null || true; } | awk -v r="$3" '
        BEGIN { n = split(r, list, " ") }
        { at = $1 - 1; inside = 0
          for (i = 1; i <= n; i++) { split(list[i], p, "+")
              if (at >= p[1] && at < p[1] + p[2]) { inside = 1; break } }
          if (!inside) wrong++ }
        END { print wrong + 0 }'
}

# One line per file of the last copy run's report.
show_salvage() {
    echo
    echo "What was salvaged (READ: bytes the run reported as copied; FILLED: bytes of the"
    echo "copy filled in for unreadable sectors; WRONG: bytes that differ from the original"
    echo "outside the filled regions, which must be 0; SIZE: the copy's size now):"
    printf '  %-22s %8s %7s %6s %8s  %s\n' FILE READ FILLED WRONG SIZE \
        "FILLED REGIONS IN THE LOG (offset+length)"
    local st copied filled src rel copy regions records wrong size
    while IFS=$'\t' read -r st copied filled src; do
        [ -n "${src:-}" ] || continue
        rel=${src#"$mnt"/}
        copy=$out/$rel
        regions=
        records=0
        if [ -f "$copy.log" ]; then
            regions=$(log_records "$copy.log" | joined_regions)
            records=$(log_records "$copy.log" | wc -l)
        fi
        wrong=-
        size=-
        if [ -f "$copy" ]; then
            wrong=$(wrong_bytes "$source_dir/$rel" "$copy" "$regions")
            size=$(stat -c %s "$copy")
        fi
        if [ "$records" -eq 1 ]; then regions="$regions (1 record)"; fi
        if [ "$records" -gt 1 ]; then regions="$regions ($records records)"; fi
        [ -f "$copy.log" ] || regions="no log"
        printf '  %-22s %8s %7s %6s %8s  %s\n' "$rel" "$copied" "$filled" "$wrong" "$size" \
            "${regions:-none}"
        [ "$st" = Ok ] || echo "    status: $st"
    done <"$work/copy.out"
    echo
    echo "Reads the medium saw (path, reads, failed reads):"
    sed 's/^/  /' "$mnt/.counts"
}

echo "=== 1. A worn floppy"
medium_image "$source_dir/floppy/letter.txt" 24K --seed 1
medium_image "$source_dir/floppy/photo.jpg" 300K --seed 2 --map 'bad 40; bad 41; bad 200-215'
medium_image "$source_dir/floppy/thesis.doc" 160K --seed 3 --map 'weak 10 1; weak 100 2'
medium_image "$source_dir/floppy/music/track01.wav" 1M --seed 4 --clusters 2:8 --random-bad 3 \
    --map 'slow 1000-1031 20'
show_medium
mount_medium
if [ "$window" = yes ]; then
    echo
    echo "tessaly --output=salvaged --start mnt/floppy   (close the window to end)"
    "$bin/tessaly" --output="$out" --start "$mnt/floppy" || true
    echo
    echo "The copies and their logs:"
    (cd "$out" && find . -type f | sort | sed 's|^\./|  |')
    exit 0
fi
run_copy --yes --keep-clean-log "$mnt/floppy" "$out"
show_salvage
unmount_medium

echo
echo "=== 2. The medium is pulled out halfway through a file, then put back"
rm -rf "${source_dir:?}"/*
medium_image "$source_dir/disk/archive.zip" 512K --seed 5 --map 'bad 100; remove-after 262144'
show_medium
mount_medium
run_copy --yes "$mnt/disk" "$out"
show_salvage
unmount_medium
echo
echo "... put back (the same image, without the removal); the same command continues:"
medium_image "$source_dir/disk/archive.zip" 512K --seed 5 --map 'bad 100'
mount_medium
run_copy --yes "$mnt/disk" "$out"
show_salvage

echo
echo "=== 3. A backup of photo.jpg turns up: get and put complete the damaged copy"
backup=$work/backup
medium_image "$backup/photo.jpg" 300K --seed 2
damaged=$out/floppy/photo.jpg
printf '  the copy differs from the backup in %s bytes\n' "$(cmp -l "$backup/photo.jpg" "$damaged" | wc -l)"
transfer() {
    echo "tessaly-cli $*" | sed "s|$work/||g"
    local status=0
    "$bin/tessaly-cli" "$@" || status=$?
    echo "(exit status $status)"
}
cp "$damaged.log" "$backup/"
transfer get "$backup/photo.jpg.log"
printf '  the transfer file holds %s bytes\n' "$(stat -c %s "$backup/photo.jpg.mrd")"
cp "$backup/photo.jpg.mrd" "$out/floppy/"
transfer put "$damaged.log"
if cmp -s "$backup/photo.jpg" "$damaged"; then
    echo "  the copy is now identical to the backup"
else
    echo "  the copy still differs from the backup in $(cmp -l "$backup/photo.jpg" "$damaged" | wc -l) bytes"
    exit 1
fi
