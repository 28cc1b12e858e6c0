#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets into OUT (default build-fuzz/seeds):
# valid copy logs, logs for the Get and Put jobs over a 64 KiB file named a.bin,
# the language files of resources/lng, and small FAT, ext2 and ISO 9660 images (one
# behind an MBR partition table) for the volume layer, each after the two bytes that
# name its unreadable sector (ff ff: none).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$top/build-fuzz/seeds}

# n little-endian bytes of a number.
le() {
    local value=$1 count=$2 i
    for ((i = 0; i < count; i++)); do
        printf "\\x$(printf %02x $(((value >> (8 * i)) & 255)))"
    done
}

# A copy log: FILE FILL NAME [OFFSET:LENGTH]... (a length of 0 is the end record).
copy_log() {
    local file=$1 fill=$2 name=$3 record
    shift 3
    {
        printf 'ACL\0\0\0\0\0'
        le "$fill" 4
        le "${#name}" 2
        printf '%s' "$name"
        for record in "$@"; do
            le "${record%%:*}" 4
            le "${record##*:}" 4
        done
    } >"$file"
}

# The wide form: FILE FILL NAME [OFFSET:LENGTH]..., 64-bit records.
wide_log() {
    local file=$1 fill=$2 name=$3 record
    shift 3
    {
        printf 'AC64\0\0\0\0'
        le "$fill" 4
        le "${#name}" 2
        printf '%s' "$name"
        for record in "$@"; do
            le "${record%%:*}" 8
            le "${record##*:}" 8
        done
    } >"$file"
}

mkdir -p "$out/copy_log" "$out/language" "$out/get" "$out/put" "$out/resume" "$out/volume"
for target in copy_log get put resume; do
    dir=$out/$target
    copy_log "$dir/end-only" 0 a.bin 65536:0
    copy_log "$dir/three-regions" 0 a.bin 512:512 8192:4096 60000:1000 65536:0
    copy_log "$dir/stopped" 0 a.bin 1024:512 40960:0
    copy_log "$dir/never-ended" 1 a.bin 1024:512 2048:1024
    copy_log "$dir/nothing-fill" 4 a.bin 65024:512 65536:0
    copy_log "$dir/continued" 2 a.bin 0:512 4096:512 20480:2048 65536:0
    wide_log "$dir/wide-three-regions" 0 a.bin 512:512 8192:4096 60000:1000 65536:0
    wide_log "$dir/wide-past-4GiB" 0 a.bin 512:512 4294967296:4096 5368709120:0
    wide_log "$dir/wide-never-ended" 1 a.bin 1024:512 2048:1024
    # An annotation block with a record of the passes (kind 3: retry pass 2 of 3, up to
    # offset 45056) before the regions of a whole copy.
    copy_log "$dir/passes-recorded" 0 ab.bin $((0x65746F6E)):0 5:0 $((3 | 4 << 16)):0 2:0 3:0 \
        45056:0 0:0 4096:512 45056:1024 65536:0
done
copy_log "$out/copy_log/long-name" 3 "$(printf 'n%.0s' {1..259})" 0:0
copy_log "$out/copy_log/empty-name" 0 "" 0:0
cp "$top"/resources/lng/*.lng "$out/language/"
printf 'Tiny\r\nzero\r\n\r\none\rtwo\n' >"$out/language/crlf.lng"

# Images for the volume layer, where the tools that build them are installed.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/tree/docs"
printf 'a small file\n' >"$tmp/tree/a.txt"
head -c 3000 /dev/zero | tr '\0' 'x' >"$tmp/tree/docs/b.txt"
volume_seed() {  # NAME IMAGE [BAD_SECTOR]
    local bad=${3:-65535}
    { printf "\\x$(printf %02x $((bad & 255)))\\x$(printf %02x $((bad >> 8)))"; cat "$2"; } \
        >"$out/volume/$1"
}
if command -v mkfs.fat >/dev/null && command -v mcopy >/dev/null; then
    mkfs.fat -C "$tmp/fat.img" 64 >/dev/null
    mcopy -s -i "$tmp/fat.img" "$tmp/tree/a.txt" "$tmp/tree/docs" ::
    volume_seed fat "$tmp/fat.img"
    volume_seed fat-bad-table "$tmp/fat.img" 1
    { printf '\0%.0s' {1..446}
      printf '\0\0\0\0\x01\0\0\0\x01\0\0\0\x80\0\0\0'
      printf '\0%.0s' {1..48}; printf '\x55\xaa'; cat "$tmp/fat.img"; } >"$tmp/mbr.img"
    volume_seed mbr-fat "$tmp/mbr.img"
fi
if command -v mkfs.ext4 >/dev/null; then
    mkfs.ext4 -q -F -b 1024 -N 16 -O ^has_journal,^resize_inode -d "$tmp/tree" "$tmp/ext.img" 128K \
        >/dev/null
    volume_seed ext2 "$tmp/ext.img"
    volume_seed ext2-bad-inodes "$tmp/ext.img" 10
fi
if command -v genisoimage >/dev/null; then
    genisoimage -quiet -R -J -o "$tmp/cd.iso" "$tmp/tree"
    volume_seed iso "$tmp/cd.iso"
fi
