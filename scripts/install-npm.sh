#!/usr/bin/env bash
# Installs the npm packages the tests use (scripts/packages/npm/*.txt, one
# package a line) into build-npm/ of the repository, where the tests look
# for them. Idempotent: a package already there is not fetched again.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t wanted < <(cat scripts/packages/npm/*.txt | sed -e 's/#.*//' -e 's/[[:space:]]//g' |
                      grep -v '^$' | sort -u)
[ ${#wanted[@]} -gt 0 ] || exit 0
if ! command -v npm >/dev/null 2>&1; then
  echo "install-npm: npm is missing (Debian package nodejs); the tests that need it fail in CI" >&2
  exit 1
fi
missing=()
for pkg in "${wanted[@]}"; do
  name=${pkg%@*}
  [ -n "$name" ] || name=$pkg
  [ -f "build-npm/node_modules/$name/package.json" ] || missing+=("$pkg")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-npm: all ${#wanted[@]} npm packages present"
  exit 0
fi
mkdir -p build-npm
echo "install-npm: installing ${missing[*]}"
npm install --prefix build-npm --no-audit --no-fund --no-save "${wanted[@]}"
