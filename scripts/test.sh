#!/usr/bin/env bash
# Sets up, builds and runs every test. Pass --sanitize for the ASan + UBSan build.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build
extra=()
if [ "${1:-}" = "--sanitize" ]; then
    build=$top/build-asan
    extra=(-DTESSALY_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi
"$top/scripts/setup.sh" "$build" "${extra[@]}"
cd "$build"
ctest --output-on-failure --timeout 300 -j 2
