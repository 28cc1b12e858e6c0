#!/usr/bin/env bash
# Sets up and builds, then runs the demonstration: a salvage from a simulated
# damaged medium, showing what was recovered. With a display, the copier's window
# opens on the damaged medium instead; without one, the terminal shows the salvage.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh" --quiet "$top/build"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$top/scripts/demo.sh" --window "$top/build"
fi
exec "$top/scripts/demo.sh" "$top/build"
