#!/usr/bin/env bash
# Sets everything up, builds, and runs the example script with the command-line runner.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --run
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMAR_TESTS=OFF -DVELMAR_BENCH=OFF
exec build/velmar run --home examples examples/Script/hello.vlm
