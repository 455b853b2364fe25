#!/usr/bin/env bash
# Installs the npm packages of the folders that have a package.json (the
# editor-protocol clients of the tests, the VS Code extension's packager)
# into their node_modules. They are not committed; the lock files are, so
# every machine gets the same versions. Without npm it says so and fails.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v npm >/dev/null 2>&1; then
  echo "install-npm: npm is missing (Debian package nodejs)" >&2
  exit 1
fi
for dir in tests/editors packaging/vscode; do
  [ -f "$dir/package.json" ] || continue
  if [ -d "$dir/node_modules" ] && [ "$dir/node_modules" -nt "$dir/package.json" ]; then
    continue
  fi
  echo "install-npm: $dir"
  if [ -f "$dir/package-lock.json" ]; then
    (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error)
  else
    (cd "$dir" && npm install --no-audit --no-fund --loglevel=error)
  fi
  touch "$dir/node_modules"
done
