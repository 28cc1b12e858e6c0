#!/usr/bin/env bash
# Sets up, builds and runs every test, then each fuzz target for 30 s (clang, in
# build-fuzz/). Pass --sanitize for the ASan + UBSan build of the tests instead.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build
extra=()
if [ "${1:-}" = "--sanitize" ]; then
    build=$top/build-asan
    extra=(-DTESSALY_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi
"$top/scripts/setup.sh" "$build" "${extra[@]}"
(cd "$build" && ctest --output-on-failure --timeout 300 -j 2)
if [ "${1:-}" != "--sanitize" ]; then
    "$top/scripts/fuzz.sh" 30
fi
