#!/usr/bin/env bash
# Configures and builds one build directory:
#   scripts/build.sh DIR [cmake options...]
# With BUILD_TARGETS set (space separated), builds only those targets.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
targets=()
for t in ${BUILD_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
