#!/usr/bin/env bash
# Installs the Debian packages the build needs (when run as root), then configures
# and builds into build/ (or the folder given as $1). Extra arguments go to cmake.
# With --packages-only it stops once the packages are there. With --quiet the package
# installation and the build write into BUILD/setup.log and one line sums them up; a
# step that fails shows its whole output (CI calls it without --quiet and sees all).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
packagesOnly=0
quiet=0
while [ $# -gt 0 ]; do
    case $1 in
        --packages-only) packagesOnly=1 ;;
        --quiet) quiet=1 ;;
        *) break ;;
    esac
    shift
done
build=${1:-$top/build}
shift || true

log=""
if [ "$quiet" -eq 1 ]; then
    mkdir -p "$build"
    log=$build/setup.log
    : >"$log"
fi
# Runs one step of the setup; quiet, into the log, and the log goes to standard error
# when the step fails.
step() {
    if [ -z "$log" ]; then
        "$@"
        return
    fi
    echo "+ $*" >>"$log"
    local status=0
    "$@" >>"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        cat "$log" >&2
        echo "setup: failed (status $status): $*" >&2
        echo "setup: the output above is kept in $log" >&2
        exit "$status"
    fi
}

packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgtest-dev libgmock-dev
          libfuse3-dev fuse3 gddrescue fonts-dejavu-core time strace
          xvfb openbox xdotool    # the copier's window ended from outside: tests/gui
          clang libclang-rt-dev   # clang and libFuzzer: scripts/fuzz.sh
          exfatprogs exfat-fuse   # an output that ignores case, for the system tests
          libtsk-dev              # partitions and file systems of images and devices: volume/
          mtools e2fsprogs genisoimage  # images built without mounting, for the volume tests
          dosfstools              # a FAT output (mkfs.fat): its limit of 4 GiB - 1 byte per file
          scdoc man-db            # the manual pages: built from their scdoc sources, checked by man
          dpkg-dev file           # the Debian package: dpkg-shlibdeps finds its dependencies
          lintian desktop-file-utils appstream)  # Debian's checks of the package and its metadata
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -eq 0 ]; then
        export DEBIAN_FRONTEND=noninteractive
        step apt-get update -qq
        step apt-get install -y -qq --no-install-recommends "${missing[@]}"
    else
        echo "Missing packages. Run as root:" >&2
        echo "  apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
fi
installed="${#missing[@]} Debian package(s) installed"

if [ "$packagesOnly" -eq 1 ]; then
    [ -z "$log" ] || echo "setup: $installed (log: $log)"
    exit 0
fi

step cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
step cmake --build "$build" -j "$(nproc)"
[ -z "$log" ] || echo "setup: $installed, $build built (log: $log)"
