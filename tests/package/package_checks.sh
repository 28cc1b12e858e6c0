#!/usr/bin/env bash
# The checks Debian's tools make of what the package installs, and of the package:
#   package_checks.sh desktop   FILE...     desktop-file-validate, not even a hint
#   package_checks.sh metainfo  FILE        appstreamcli validate --no-net
#   package_checks.sh man       BUILD       each built page renders without a warning
#   package_checks.sh deb       BUILD       builds BUILD/package/tessaly_*.deb (CPack)
#   package_checks.sh lintian   BUILD       lintian: no error, no warning, no note
#   package_checks.sh contents  BUILD       the files and dependencies of the package
#   package_checks.sh roundtrip BUILD       apt-get install, run, apt-get remove (root)
# Exit status 77 (SKIPPED, with the reason) where a tool or root is missing.
set -uo pipefail

skip() { echo "SKIPPED: $*" >&2; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }
need() { command -v "$1" >/dev/null || skip "$1 is not installed (apt-get install $2)"; }

theDeb() {
    local debs=("$1"/package/tessaly_*.deb)
    [ -f "${debs[0]}" ] || skip "no package was built in $1/package (the deb check failed or was skipped)"
    [ ${#debs[@]} -eq 1 ] || fail "more than one package in $1/package: ${debs[*]}"
    echo "${debs[0]}"
}

checkDesktop() {
    need desktop-file-validate desktop-file-utils
    local out
    for file in "$@"; do
        out=$(desktop-file-validate "$file" 2>&1) || fail "$file: $out"
        [ -z "$out" ] || fail "$out"
        echo "valid: $file"
    done
}

checkMetainfo() {
    need appstreamcli appstream
    local out
    out=$(appstreamcli validate --no-net "$1" 2>&1) || fail "$out"
    if grep -E '^(E|W):' <<<"$out"; then fail "$1 has errors or warnings"; fi
    echo "$out"
}

checkMan() {
    need man man-db
    need scdoc scdoc
    local pages=("$1"/share/man/man*/*) count=0
    for page in "${pages[@]}"; do
        [ -f "$page" ] || continue
        local err
        err=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
        [ -z "$err" ] || fail "$page: $err"
        LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -l "$page" 2>/dev/null | grep -q '^NAME' ||
            fail "$page renders without a NAME section"
        count=$((count + 1))
        echo "renders: $page"
    done
    [ "$count" -eq 4 ] || fail "$count manual pages in $1/share/man, 4 expected (scdoc missing?)"
}

buildDeb() {
    need dpkg-shlibdeps dpkg-dev
    need file file
    rm -f "$1"/package/tessaly_*.deb
    (cd "$1" && cpack -G DEB) || fail "cpack could not build the package"
    theDeb "$1" >/dev/null
}

checkLintian() {
    need lintian lintian
    local deb
    deb=$(theDeb "$1") || exit $?
    # As root lintian says it would rather not be; that is all it says on stderr.
    # Notes too: the hardening flags, stripping and the overrides are in our hands.
    lintian --fail-on error,warning,info --info "$deb" 2> >(grep -v 'root privileges' >&2) ||
        fail "lintian found errors, warnings or notes in $deb"
    echo "lintian: no error, no warning, no note in $deb"
}

checkContents() {
    local deb listing depends
    deb=$(theDeb "$1") || exit $?
    listing=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|')
    for path in /usr/bin/tessaly /usr/bin/tessaly-cli /usr/bin/velmora \
        /usr/share/tessaly/english.lng /usr/share/tessaly/deutsch.lng /usr/share/tessaly/russian.lng \
        /usr/share/tessaly/Help/index.html /usr/share/tessaly/Help/velmora.html \
        /usr/share/icons/hicolor/64x64/apps/tessaly.png /usr/share/icons/hicolor/scalable/apps/velmora.svg \
        /usr/share/applications/tessaly.desktop /usr/share/applications/velmora.desktop \
        /usr/share/metainfo/com.brindlework.Tessaly.metainfo.xml \
        /usr/share/man/man1/tessaly.1.gz /usr/share/man/man1/tessaly-cli.1.gz \
        /usr/share/man/man1/velmora.1.gz /usr/share/man/man5/tessaly-log.5.gz \
        /usr/share/doc/tessaly/copyright /usr/share/doc/tessaly/changelog.gz; do
        grep -qx "$path" <<<"$listing" || fail "$deb lacks $path"
    done
    if grep -v -E '^/usr/' <<<"$listing" | grep -v -x '/'; then
        fail "$deb installs outside /usr"
    fi
    depends=$(dpkg-deb -f "$deb" Depends)
    for lib in libc6 libstdc++6 libqt6widgets6 libqt6core6 'libtsk[0-9][0-9]*'; do
        grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib: $depends"
    done
    echo "contents and dependencies as expected: $depends"
}

# Installs the package as a user would, runs each program from /usr/bin with a
# profile of its own, removes the package and looks for anything left behind.
checkRoundTrip() {
    [ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
    need apt-get apt
    local deb
    deb=$(theDeb "$1") || exit $?
    dpkg-query -W -f='${Status}' tessaly 2>/dev/null | grep -q 'installed' &&
        skip "a tessaly package is installed already; it is left alone"
    for path in /usr/bin/tessaly /usr/bin/tessaly-cli /usr/bin/velmora /usr/share/tessaly; do
        [ -e "$path" ] && skip "$path exists already (installed by hand?); it is left alone"
    done
    work=$(mktemp -d)
    trap 'rm -rf "$work"; dpkg-query -W tessaly >/dev/null 2>&1 && apt-get remove -y -qq tessaly >/dev/null 2>&1' EXIT
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$(realpath "$deb")" >"$work/apt.log" 2>&1 ||
        fail "apt-get install: $(cat "$work/apt.log")"
    dpkg -L tessaly >"$work/files"

    export XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen
    unset DISPLAY WAYLAND_DISPLAY
    /usr/bin/tessaly-cli --help | grep -q 'languages' || fail "tessaly-cli --help"
    /usr/bin/tessaly-cli languages >"$work/languages" || fail "tessaly-cli languages: $(cat "$work/languages")"
    grep -qx 'Program folder: /usr/share/tessaly' "$work/languages" || fail "$(cat "$work/languages")"
    grep -q '^english.lng' "$work/languages" || fail "no english.lng: $(cat "$work/languages")"
    [ "$(man -w tessaly-cli)" = /usr/share/man/man1/tessaly-cli.1.gz ] || fail "man -w tessaly-cli: $(man -w tessaly-cli 2>&1)"
    MANWIDTH=80 man tessaly-cli 2>/dev/null | grep -q 'tessaly-cli copy' || fail "man tessaly-cli shows no page"
    man -w 5 tessaly-log >/dev/null || fail "man 5 tessaly-log"
    # The file system library is loaded when an image is first opened: its package came along.
    truncate -s 1M "$work/disk.img" && mkfs.ext4 -q "$work/disk.img" 2>/dev/null
    /usr/bin/tessaly-cli files "$work/disk.img" >"$work/files.csv" 2>&1 ||
        fail "tessaly-cli files on an image: $(cat "$work/files.csv")"
    # A window that finds no language file ends at once with status 1 and draws nothing.
    timeout 60 /usr/bin/velmora --screenshot="$work/velmora.png" || fail "velmora from /usr/bin"
    timeout 60 /usr/bin/tessaly --screenshot="$work/tessaly.png" || fail "tessaly from /usr/bin"
    [ -s "$work/velmora.png" ] && [ -s "$work/tessaly.png" ] || fail "the windows drew nothing"
    echo "installed, and each program runs from /usr/bin"

    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq tessaly >"$work/apt.log" 2>&1 ||
        fail "apt-get remove: $(cat "$work/apt.log")"
    local left=0
    while IFS= read -r path; do
        if [ -e "$path" ] && [ ! -d "$path" ]; then echo "left behind: $path"; left=1; fi
    done <"$work/files"
    for dir in /usr/share/tessaly /usr/share/doc/tessaly; do
        if [ -e "$dir" ]; then echo "left behind: $dir"; left=1; fi
    done
    [ "$left" -eq 0 ] || fail "apt-get remove tessaly left files behind"
    echo "removed: none of its $(wc -l <"$work/files") paths is left"
}

what=${1:?usage: package_checks.sh desktop|metainfo|man|deb|lintian|contents|roundtrip ARG...}
shift
case $what in
    desktop) checkDesktop "$@" ;;
    metainfo) checkMetainfo "$1" ;;
    man) checkMan "$1" ;;
    deb) buildDeb "$1" ;;
    lintian) checkLintian "$1" ;;
    contents) checkContents "$1" ;;
    roundtrip) checkRoundTrip "$1" ;;
    *) fail "unknown check $what" ;;
esac
