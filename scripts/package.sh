#!/usr/bin/env bash
# Builds the Debian package tessaly_VERSION_ARCH.deb into the top folder and prints
# its path. The programs carry Debian's hardening flags (cmake/Hardening.cmake, from
# dpkg-buildflags) and are stripped, their .comment section too.
#   scripts/package.sh          a release build of the three programs in build-release/
#   scripts/package.sh BUILD    reuses the configured build folder BUILD (build/ after
#                               scripts/test.sh); only what the package holds is built
# As root it installs the Debian packages it needs; otherwise it names them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh" --packages-only

if [ $# -gt 0 ]; then
    build=$(cd "$1" && pwd)
    if [ ! -f "$build/CPackConfig.cmake" ]; then
        echo "package.sh: $1 is not a configured build folder" >&2
        exit 1
    fi
else
    build=$top/build-release
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_BUILD_TESTS=OFF \
        >/dev/null
fi
cmake --build "$build" --target tessaly tessaly-cli velmora language_files help_pages \
    man_pages package_changelog
rm -f "$build"/package/tessaly_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/package/tessaly_*.deb)
cp "${debs[0]}" "$top/"
echo "$top/$(basename "${debs[0]}")"
