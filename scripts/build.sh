#!/usr/bin/env bash
# Configures and builds one build directory:
#   scripts/build.sh DIR [cmake options...]
#   scripts/build.sh --preset NAME [cmake options...]   (CMakePresets.json)
# With BUILD_TARGETS set (space separated), builds only those targets.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
# A compiler cache, where installed, makes the three builds of the test run
# and repeated runs on one machine share their unchanged objects.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$PWD"
  # Debug info names the build folder; without this every checkout (and
  # each of the test run's build folders) would miss the others' objects.
  export CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
targets=()
for t in ${BUILD_TARGETS:-}; do targets+=(--target "$t"); done
if [ "$dir" = --preset ]; then
  # The preset names the folder, the options and (tsan) the targets.
  preset=$1
  shift
  cmake --preset "$preset" "${launcher[@]}" "$@" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)" "${targets[@]}"
  exit
fi
cmake -S . -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
