#!/usr/bin/env bash
# Builds the regex fuzz target with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer), independent of the main build, and runs it for
# a fixed number of inputs from a few seeds. Exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/../.."

out=${VELMAR_FUZZ_DIR:-build-fuzz}
runs=${VELMAR_FUZZ_RUNS:-100000}
mkdir -p "$out"
clang++ -std=c++20 -O1 -g -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I. tests/fuzz/regex_fuzz.cpp \
  regex/reg_exp_compiler.cpp regex/reg_exp_matcher.cpp regex/named_regex.cpp values/code_page.cpp \
  -o "$out/regex_fuzz"

corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
seed() {  # way, pattern, text
  printf '%b' "\\x$(printf '%02x' "$1")\\x$(printf '%02x' "${#2}")$2$3" > "$corpus/seed$((n += 1))"
}
n=0
seed 1 '<td>{[^<]*}</td>' '<td>a</td><td>b</td>'
seed 1 '{\\w}={\\z}' 'a=1 b=22'
seed 1 '{a|b}*!c.{x}?\\0' 'abbacx'
seed 2 '{(ab)|(cd)}+?\\q' 'abcd"x"'
seed 1 '((a|(aa))+)+b' 'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaac'
seed 1 '^{.*?}$' 'line\r\nline'

ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$out/regex_fuzz" -runs="$runs" -seed=1 -max_len=256 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$out/" "$corpus"
