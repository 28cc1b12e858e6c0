#!/usr/bin/env bash
# The demonstration of scripts/run.sh: a salvage from a simulated damaged medium.
# Mounts tessaly-medium over a few damaged files, copies them with tessaly-cli copy
# into a temporary folder, and shows per file what was read, what was filled and
# the regions of its copy log; everything is unmounted and removed at the end.
#
#   scripts/demo.sh [BUILD_DIR]
#
# Needs /dev/fuse and root (or fusermount3).
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
bin=$build/bin
for program in tessaly-cli tessaly-medium tessaly-medium-image; do
    if [ ! -x "$bin/$program" ]; then
        echo "demo: $bin/$program is missing; build first (scripts/setup.sh)" >&2
        exit 1
    fi
done
if [ ! -c /dev/fuse ]; then
    echo "demo: /dev/fuse is missing, so the damaged medium cannot be mounted" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-demo-XXXXXX")
source_dir=$work/medium
mnt=$work/mnt
out=$work/salvaged
mkdir -p "$source_dir/floppy" "$mnt" "$out"
medium_pid=

cleanup() {
    if mountpoint -q "$mnt"; then
        fusermount3 -u "$mnt" 2>/dev/null || umount -l "$mnt" 2>/dev/null || true
    fi
    if [ -n "$medium_pid" ]; then
        for _ in $(seq 1 100); do kill -0 "$medium_pid" 2>/dev/null || break; sleep 0.05; done
        kill "$medium_pid" 2>/dev/null || true
        wait "$medium_pid" 2>/dev/null || true
    fi
    mountpoint -q "$mnt" || rm -rf "$work"
}
trap cleanup EXIT

# The medium: a worn floppy's worth of files.
image() { "$bin/tessaly-medium-image" "$@" >/dev/null; }
image "$source_dir/floppy/letter.txt" 24K --seed 1
image "$source_dir/floppy/photo.jpg" 300K --seed 2 --map 'bad 40; bad 41; bad 200-215'
image "$source_dir/floppy/thesis.doc" 160K --seed 3 --map 'weak 10 1; weak 100 2'
image "$source_dir/floppy/music/track01.wav" 1M --seed 4 --clusters 2:8 --random-bad 3 \
    --map 'slow 1000-1031 20'

echo "The damaged medium:"
(cd "$source_dir" && find floppy -type f ! -name '*.map' | sort | while read -r f; do
    damage=$(grep -v '^sector' "$f.map" 2>/dev/null | paste -sd ',' - || true)
    printf '  %-24s %8d bytes  %s\n' "$f" "$(stat -c %s "$f")" "${damage:-no damage}"
done)

"$bin/tessaly-medium" "$source_dir" "$mnt" >"$work/medium.log" 2>&1 &
medium_pid=$!
for _ in $(seq 1 200); do
    mountpoint -q "$mnt" && break
    kill -0 "$medium_pid" 2>/dev/null || break
    sleep 0.05
done
if ! mountpoint -q "$mnt"; then
    echo "demo: the medium did not mount:" >&2
    cat "$work/medium.log" >&2
    exit 1
fi

echo
echo "tessaly-cli copy --yes --keep-clean-log $mnt/floppy $out"
status=0
"$bin/tessaly-cli" copy --yes --keep-clean-log "$mnt/floppy" "$out" >"$work/copy.out" \
    || status=$?
cat "$work/copy.out"
echo "(exit status $status)"

# The regions of a copy log: "OFFSET+LENGTH" for each record before the end record.
log_regions() {
    local log=$1 length
    length=$(od -A n -t u2 --endian=little -j 12 -N 2 "$log" | tr -d ' ')
    od -A n -t u4 --endian=little -v -j $((14 + length)) "$log" | tr -s ' ' '\n' |
        sed '/^$/d' | paste - - | awk '$2 == 0 { exit } { printf "%s+%s ", $1, $2 }'
}

echo
echo "What was salvaged:"
printf '  %-24s %10s %10s %10s  %s\n' FILE READ FILLED WRONG "LOG REGIONS (offset+length)"
while IFS=$'\t' read -r st copied filled src; do
    [ -n "${src:-}" ] || continue
    rel=${src#"$mnt"/}
    copy=$out/$rel
    regions=-
    [ -f "$copy.log" ] && regions=$(log_regions "$copy.log")
    # Bytes of the copy that differ from the original image outside the filled
    # regions: a salvage must leave none.
    wrong=-
    if [ -f "$copy" ]; then
        wrong=$({ cmp -l "$source_dir/$rel" "$copy" 2>/dev/null || true; } | awk -v r="$regions" '
            BEGIN { n = split(r, list, " ") }
            { at = $1 - 1; inside = 0
              for (i = 1; i <= n; i++) { split(list[i], p, "+")
                  if (at >= p[1] && at < p[1] + p[2]) { inside = 1; break } }
              if (!inside) wrong++ }
            END { print wrong + 0 }')
    fi
    printf '  %-24s %10s %10s %10s  %s\n' "$rel" "$copied" "$filled" "$wrong" "${regions:-none}"
    [ "$st" = Ok ] || echo "    status: $st"
done <"$work/copy.out"

echo
echo "Reads the medium saw (path, reads, failed reads):"
sed 's/^/  /' "$mnt/.counts"
