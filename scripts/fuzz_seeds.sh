#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets into OUT (default build-fuzz/seeds):
# valid copy logs, logs for the Get and Put jobs over a 64 KiB file named a.bin,
# and the language files of resources/lng.
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

mkdir -p "$out/copy_log" "$out/language" "$out/get" "$out/put" "$out/resume"
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
done
copy_log "$out/copy_log/long-name" 3 "$(printf 'n%.0s' {1..259})" 0:0
copy_log "$out/copy_log/empty-name" 0 "" 0:0
cp "$top"/resources/lng/*.lng "$out/language/"
printf 'Tiny\r\nzero\r\n\r\none\rtwo\n' >"$out/language/crlf.lng"
