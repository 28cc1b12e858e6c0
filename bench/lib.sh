# Shared helpers of the benchmark cases; sourced by run_all.sh and by each case.
#
#   medium_image IMAGE SIZE [tessaly-medium-image options]   make an image and its map
#   medium_mount SOURCE_DIR MOUNT_POINT                      serve SOURCE_DIR there
#   medium_unmount MOUNT_POINT                               end that medium
#   medium_counts MOUNT_POINT                                print its /.counts
#   bench_result NAME VALUE UNIT                             report one measurement
#   bench_seconds COMMAND...                                 run it, print wall seconds
#   bench_skip REASON                                        end the case, saying why
#
# BENCH_BUILD is the build folder (its bin/ holds the programs).

: "${BENCH_BUILD:?BENCH_BUILD must name the build folder}"
BENCH_BIN=${BENCH_BIN:-$BENCH_BUILD/bin}
declare -A BENCH_MEDIUM_PIDS=()

medium_image() {
    "$BENCH_BIN/tessaly-medium-image" "$@" >/dev/null
}

medium_mount() {
    local source=$1 mount=$2 log
    mkdir -p "$mount"
    log=$(mktemp)
    "$BENCH_BIN/tessaly-medium" "$source" "$mount" >"$log" 2>&1 &
    BENCH_MEDIUM_PIDS[$mount]=$!
    local i
    for i in $(seq 1 500); do
        if mountpoint -q "$mount"; then rm -f "$log"; return 0; fi
        if ! kill -0 "${BENCH_MEDIUM_PIDS[$mount]}" 2>/dev/null; then break; fi
        sleep 0.02
    done
    echo "tessaly-medium did not mount $source at $mount:" >&2
    cat "$log" >&2
    rm -f "$log"
    medium_unmount "$mount"
    return 1
}

medium_unmount() {
    local mount=$1 pid=${BENCH_MEDIUM_PIDS[$1]:-}
    if mountpoint -q "$mount"; then
        fusermount3 -u "$mount" 2>/dev/null || umount -l "$mount" 2>/dev/null || true
    fi
    if [ -n "$pid" ]; then
        local i
        for i in $(seq 1 250); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.02
        done
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        unset "BENCH_MEDIUM_PIDS[$mount]"
    fi
}

# Ends every medium this shell mounted; run_all.sh and the cases trap EXIT with it.
medium_unmount_all() {
    local mount
    for mount in "${!BENCH_MEDIUM_PIDS[@]}"; do medium_unmount "$mount"; done
}

# medium_readable IMAGE: the bytes of IMAGE that its map does not name bad (weak
# sectors give their data in the end).
medium_readable() {
    python3 - "$1" <<'PY'
import os, sys
size = os.path.getsize(sys.argv[1])
bad = 0
for line in open(sys.argv[1] + '.map'):
    words = line.split('#')[0].split()
    if len(words) == 2 and words[0] == 'bad':
        first, _, last = words[1].partition('-')
        bad += int(last or first) - int(first) + 1
print(size - bad * 512)
PY
}

medium_counts() {
    cat "$1/.counts"
}

bench_result() {
    printf 'RESULT %s %s %s\n' "$1" "$2" "$3"
}

bench_seconds() {
    local start end err
    err=$(mktemp)
    start=$(date +%s.%N)
    if ! "$@" >/dev/null 2>"$err"; then
        echo "failed: $*" >&2
        cat "$err" >&2
        rm -f "$err"
        return 1
    fi
    end=$(date +%s.%N)
    rm -f "$err"
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", e - s }'
}

bench_skip() {
    echo "SKIPPED: $*" >&2
    exit 0
}
