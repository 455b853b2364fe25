#!/bin/sh
# The manager's command line: --help and --version on standard output with
# status 0, an unknown option or a missing home folder refused with 2, all
# before any window could open (no display is given).
#   program_options_test.sh TAMARIND VERSION
set -u
tamarind=$1
version=$2
fail=0
check() {  # check WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then echo "FAIL: $1: expected [$2], got [$3]"; fail=1; fi
}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$tamarind" --version 2>"$tmp/err"); check "--version status" 0 $?
check "--version text" "tamarind $version" "$out"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$tamarind" --help 2>"$tmp/err"); check "--help status" 0 $?
case $out in "usage: tamarind"*) ;; *) echo "FAIL: --help printed [$out]"; fail=1 ;; esac
check "--help stderr" "" "$(cat "$tmp/err")"
env -u DISPLAY -u WAYLAND_DISPLAY "$tamarind" --bogus >"$tmp/out" 2>"$tmp/err"; check "unknown option status" 2 $?
grep -q "unknown argument: --bogus" "$tmp/err" || { echo "FAIL: unknown option message: $(cat "$tmp/err")"; fail=1; }
env -u DISPLAY -u WAYLAND_DISPLAY "$tamarind" --home "$tmp/typo" >"$tmp/out" 2>"$tmp/err"; check "missing home status" 2 $?
[ ! -e "$tmp/typo" ] || { echo "FAIL: the missing home folder was made"; fail=1; }
exit $fail
