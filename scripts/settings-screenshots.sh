#!/usr/bin/env bash
# Renders the copying settings sheet (each page) and the miscellaneous dialog without a
# display into docs/settings-*.png, in the language file given as $2 (default
# english.lng). Builds what it needs in the build folder (default build/, or $1).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
language=${2:-english.lng}

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target settings_screenshots language_files >/dev/null
mkdir -p "$top/docs"
QT_QPA_PLATFORM=offscreen "$build/bin/settings_screenshots" \
    "$build/share/tessaly" "$language" "$top/docs"
