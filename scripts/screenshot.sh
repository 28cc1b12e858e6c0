#!/usr/bin/env bash
# Renders the velmora window without a display into docs/velmora.png, and with its
# File menu open into docs/velmora-menu.png, and the tessaly window after copying a
# small folder into docs/tessaly.png. Builds the programs first when the build folder
# (default build/, or $1) does not hold them. The profile used is a temporary one, so
# the user's settings stay as they are.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}

if [ ! -x "$build/bin/velmora" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target velmora tessaly language_files help_pages >/dev/null

profile=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$profile" "$work"' EXIT
mkdir -p "$top/docs"
XDG_CONFIG_HOME="$profile" QT_QPA_PLATFORM=offscreen "$build/bin/velmora" \
    --screenshot="$top/docs/velmora.png" --screenshot-menu="$top/docs/velmora-menu.png"
# A small folder, copied into a fresh one, so that the list shows finished lines.
mkdir -p "$work/floppy/photos" "$work/rescued"
head -c 24576 /dev/urandom >"$work/floppy/letter.txt"
head -c 307200 /dev/urandom >"$work/floppy/photos/beach.jpg"
head -c 161792 /dev/urandom >"$work/floppy/thesis.doc"
head -c 1048576 /dev/urandom >"$work/floppy/track01.wav"
XDG_CONFIG_HOME="$profile" QT_QPA_PLATFORM=offscreen "$build/bin/tessaly" \
    --output="$work/rescued" --start --screenshot="$top/docs/tessaly.png" "$work/floppy"
echo "Wrote $top/docs/velmora.png, $top/docs/velmora-menu.png and $top/docs/tessaly.png"
