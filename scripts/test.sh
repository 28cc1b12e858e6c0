#!/usr/bin/env bash
# Sets up, builds and runs every test (the Debian package's checks among them), then
# each fuzz target for 30 s (clang, in build-fuzz/). Pass --sanitize for the ASan +
# UBSan build of the tests instead, without the package's checks.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build
extra=()
only=()
if [ "${1:-}" = "--sanitize" ]; then
    build=$top/build-asan
    extra=(-DTESSALY_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
    only=(-LE package)
fi
"$top/scripts/setup.sh" "$build" "${extra[@]}"
(cd "$build" && ctest --output-on-failure --timeout 300 -j 2 "${only[@]}")
if [ "${1:-}" != "--sanitize" ]; then
    # The package script over the build just tested: it builds nothing again.
    "$top/scripts/package.sh" "$build" >/dev/null
    "$top/scripts/fuzz.sh" 30
fi
