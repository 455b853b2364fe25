#!/usr/bin/env bash
# Installs the npm packages the trace tests run (the HAR consumers
# har-validator and har-to-k6) into build/node_tools, where the tests look
# for them (VELMAR_NODE_TOOLS overrides). Nothing is committed of them.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${VELMAR_NODE_TOOLS:-build/node_tools}
if [ -d "$dir/node_modules/har-validator" ] && [ -x "$dir/node_modules/.bin/har-to-k6" ]; then
  echo "install-node-tools: present in $dir"
  exit 0
fi
mkdir -p "$dir"
npm install --no-audit --no-fund --prefix "$dir" har-validator har-to-k6
