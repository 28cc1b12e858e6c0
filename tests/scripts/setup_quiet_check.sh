#!/usr/bin/env bash
# scripts/setup.sh --quiet over stand-ins for dpkg-query, apt-get, id and cmake that
# talk a lot: a setup that works says one line and keeps the rest in BUILD/setup.log;
# one whose step fails shows that whole output and ends with the step's status.
#   setup_quiet_check.sh SETUP_SCRIPT
set -uo pipefail
setup=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

mkdir "$work/bin"
stub() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$work/bin/$1"; chmod +x "$work/bin/$1"; }
stub dpkg-query '[ "${!#}" = cmake ] && exit 1; printf "install ok installed"'
stub id 'echo 0'
stub apt-get 'for i in $(seq 300); do echo "Unpacking package $i"; done'
stub cmake '[ "$1" = --build ] || exit 0
for i in $(seq 2000); do echo "[$i/2000] Building object $i"; done
exit "${BUILD_STATUS:-0}"'

run() {
    PATH="$work/bin:$PATH" bash "$setup" --quiet "$work/build" >"$work/out" 2>"$work/err"
}

run || fail "setup failed: $(cat "$work/err")"
[ "$(wc -l <"$work/out")" -eq 1 ] || fail "more than one line: $(head -5 "$work/out")"
grep -q "^setup: 1 Debian package(s) installed, $work/build built (log: $work/build/setup.log)$" \
    "$work/out" || fail "summary: $(cat "$work/out")"
[ ! -s "$work/err" ] || fail "said on standard error: $(head -5 "$work/err")"
grep -q "Unpacking package 300" "$work/build/setup.log" || fail "the installation is not in the log"
grep -q "Building object 2000" "$work/build/setup.log" || fail "the build is not in the log"

BUILD_STATUS=3 run
status=$?
[ "$status" -eq 3 ] || fail "a failed build ended with $status"
[ ! -s "$work/out" ] || fail "a failed setup printed a summary: $(cat "$work/out")"
grep -q "Unpacking package 1$" "$work/err" || fail "the installation's output is not shown"
grep -q "Building object 2000" "$work/err" || fail "the build's output is not shown"
grep -q "^setup: failed (status 3): cmake --build" "$work/err" || fail "no reason: $(tail -3 "$work/err")"
echo "quiet setup: one line when it works, the whole output when it fails"
