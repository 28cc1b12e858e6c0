#!/usr/bin/env bash
# Renders the velmora window without a display into docs/velmora.png, and with its
# File menu open into docs/velmora-menu.png. Builds velmora first when the build
# folder (default build/, or $1) does not hold it. The profile used is a temporary
# one, so the user's language setting stays as it is.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}

if [ ! -x "$build/bin/velmora" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target velmora language_files help_pages >/dev/null

profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
mkdir -p "$top/docs"
XDG_CONFIG_HOME="$profile" QT_QPA_PLATFORM=offscreen "$build/bin/velmora" \
    --screenshot="$top/docs/velmora.png" --screenshot-menu="$top/docs/velmora-menu.png"
echo "Wrote $top/docs/velmora.png and $top/docs/velmora-menu.png"
