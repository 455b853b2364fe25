#!/usr/bin/env bash
# Sets everything up and runs every test: the normal build, then the unit
# tests again under AddressSanitizer + UndefinedBehaviorSanitizer, the thread
# tests under ThreadSanitizer, and the fuzz targets for a fixed number of runs.
# Tests that need servers (MariaDB, nginx, tinyproxy) start their own
# throwaway instances on loopback.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1
bash scripts/install-npm.sh || exit 1
bash scripts/install-node-tools.sh || exit 1

passed=0
failed=0
run_suite() {
  local name=$1
  shift
  echo "=== $name"
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "=== $name FAILED"; fi
}

# The build folders and their options are the presets of CMakePresets.json
# (default: build/, asan: build-asan/, tsan: build-tsan/). Every option the
# suites rely on is given there: the build folders are shared with other
# commands (run-example.sh configures build/ without the tests), and a
# cached value would otherwise carry over. The normal build's tests are one
# ctest entry per test case, run two at a time; the sanitizer builds keep
# one entry per test program.
run_suite "build" env BUILD_TARGETS= bash scripts/build.sh --preset default
run_suite "tests" ctest --preset default
# The examples are what new users start from: they must pass the checker.
run_suite "check examples" build/velmar check --home examples examples/Script/*.vlm

run_suite "build (address,undefined)" env BUILD_TARGETS= bash scripts/build.sh --preset asan
run_suite "tests (address,undefined)" ctest --preset asan

# Only the thread tests: the targets are those of the tsan build preset.
run_suite "build (thread)" env BUILD_TARGETS= bash scripts/build.sh --preset tsan
run_suite "tests (thread)" ctest --preset tsan

for fuzz in tests/fuzz/run.sh; do
  [ -f "$fuzz" ] && run_suite "fuzz" bash "$fuzz"
done

echo "suites: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
