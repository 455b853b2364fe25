#!/usr/bin/env bash
# Sets everything up and runs every test: the normal build, then the unit
# tests again under AddressSanitizer + UndefinedBehaviorSanitizer, the thread
# tests under ThreadSanitizer, and the fuzz targets for a fixed number of runs.
# Tests that need servers (MariaDB, nginx, tinyproxy) start their own
# throwaway instances on loopback.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1
bash scripts/install-node-tools.sh || exit 1

passed=0
failed=0
run_suite() {
  local name=$1
  shift
  echo "=== $name"
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "=== $name FAILED"; fi
}

# Every option the suites rely on is given here: the build folders are
# shared with other commands (run-example.sh configures build/ without the
# tests), and a cached value would otherwise carry over.
run_suite "build" env BUILD_TARGETS= bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMAR_TESTS=ON -DVELMAR_BENCH=ON -DVELMAR_SANITIZE=
run_suite "tests" ctest --test-dir build --output-on-failure --no-tests=error --timeout 900
# The examples are what new users start from: they must pass the checker.
run_suite "check examples" build/velmar check --home examples examples/Script/*.vlm

run_suite "build (address,undefined)" env BUILD_TARGETS= bash scripts/build.sh build-asan \
  -DCMAKE_BUILD_TYPE=Debug -DVELMAR_TESTS=ON -DVELMAR_BENCH=OFF -DVELMAR_SANITIZE=address,undefined
run_suite "tests (address,undefined)" env ASAN_OPTIONS=detect_leaks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure --no-tests=error --timeout 900

run_suite "build (thread)" env BUILD_TARGETS="velmar velmar_engine_tests velmar_ui_core_tests" \
  bash scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=Debug \
  -DVELMAR_TESTS=ON -DVELMAR_BENCH=OFF -DVELMAR_SANITIZE=thread
run_suite "tests (thread)" env TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure --no-tests=error --timeout 900 -R '^(engine|ui_core)$'

for fuzz in tests/fuzz/run.sh; do
  [ -f "$fuzz" ] && run_suite "fuzz" bash "$fuzz"
done

echo "suites: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
