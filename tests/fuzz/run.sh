#!/usr/bin/env bash
# Builds every fuzz target of tests/fuzz with clang (libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer) in a build directory of its
# own, and runs each for a fixed number of inputs from its seeds in
# tests/fuzz/seeds/<target>/ (and, for the loader and the response reader,
# the scripts and replies of tests/cases/*.case). Exits non-zero on any
# finding; the input that found it is left in the build directory as
# crash-*, timeout-*, oom-* or leak-*.
#
#   VELMAR_FUZZ_DIR      build directory (build-fuzz)
#   VELMAR_FUZZ_TARGETS  targets to run (all of them)
#   VELMAR_FUZZ_SCALE    multiplies every target's number of runs (1)
set -euo pipefail
cd "$(dirname "$0")/../.."

out=${VELMAR_FUZZ_DIR:-build-fuzz}
scale=${VELMAR_FUZZ_SCALE:-1}

# Inputs per target, sized so each run takes some 20 to 40 seconds on one
# busy core (the targets that read files are the slow ones), and the longest
# input tried.
declare -A runs=(
  [regex_fuzz]=25000 [script_fuzz]=5000 [expansion_fuzz]=4000 [url_fuzz]=600000
  [cookie_fuzz]=6000 [cookie_store_fuzz]=8000 [response_fuzz]=400000 [profile_fuzz]=3000
)
declare -A max_len=(
  [regex_fuzz]=256 [script_fuzz]=2048 [expansion_fuzz]=1024 [url_fuzz]=2048
  [cookie_fuzz]=1024 [cookie_store_fuzz]=2048 [response_fuzz]=8192 [profile_fuzz]=1024
)

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$out" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=Fuzz -DCMAKE_CXX_FLAGS="-O1 -g" -DCMAKE_C_FLAGS="-O1 -g" \
  -DVELMAR_SANITIZE=address,undefined -DVELMAR_FUZZ=ON -DVELMAR_TESTS=OFF -DVELMAR_BENCH=OFF \
  "${launcher[@]}" >/dev/null
cmake --build "$out" -j "$(nproc)" --target velmar_fuzz

targets=${VELMAR_FUZZ_TARGETS:-$(ls tests/fuzz/*_fuzz.cpp | xargs -n1 basename | sed 's/\.cpp$//')}
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
# The behaviour cases' scripts and server replies join the seeds.
bash tests/cases/seeds.sh "$corpus"
failed=0
for target in $targets; do
  n=$((${runs[$target]:-100000} * scale))
  mkdir -p "$corpus/$target"
  cp tests/fuzz/seeds/"$target"/* "$corpus/$target/" 2>/dev/null || true
  start=$SECONDS
  if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$out/tests/fuzz/$target" -runs="$n" -seed=1 -max_len="${max_len[$target]:-1024}" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$out/" \
    "$corpus/$target" >"$out/$target.log" 2>&1; then
    echo "$target: $n runs in $((SECONDS - start)) s"
  else
    echo "$target: FAILED after $((SECONDS - start)) s; see $out/$target.log"
    tail -n 40 "$out/$target.log"
    failed=1
  fi
done
exit $failed
