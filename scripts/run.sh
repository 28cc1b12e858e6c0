#!/usr/bin/env bash
# Sets up and builds, then runs the demonstration: a salvage from a simulated
# damaged medium, showing what was recovered.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh" "$top/build"
exec "$top/scripts/demo.sh" "$top/build"
