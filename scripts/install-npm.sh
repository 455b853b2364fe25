#!/usr/bin/env bash
# Installs the npm packages the tests and the build use; none is committed.
#  - folders with a package.json (the editor-protocol clients of the tests,
#    the VS Code extension's packager) get theirs from the committed lock
#    files, so every machine gets the same versions;
#  - the packages listed in scripts/packages/npm/*.txt (one a line) go into
#    build-npm/ of the repository, where the tests look for them.
# Idempotent: what is already there is not fetched again. Without npm it
# says so and fails.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v npm >/dev/null 2>&1; then
  echo "install-npm: npm is missing (Debian package nodejs); the tests that need it fail in CI" >&2
  exit 1
fi
for dir in tests/editors packaging/vscode; do
  [ -f "$dir/package.json" ] || continue
  # npm's own record of what it installed is the stamp: touching the folder
  # instead would make npm distrust that record (vsce's listing then fails).
  if [ "$dir/node_modules/.package-lock.json" -nt "$dir/package.json" ]; then
    continue
  fi
  echo "install-npm: $dir"
  if [ -f "$dir/package-lock.json" ]; then
    (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error)
  else
    (cd "$dir" && npm install --no-audit --no-fund --loglevel=error)
  fi
done

mapfile -t wanted < <(cat scripts/packages/npm/*.txt 2>/dev/null | sed -e 's/#.*//' -e 's/[[:space:]]//g' |
                      grep -v '^$' | sort -u)
[ ${#wanted[@]} -gt 0 ] || exit 0
missing=()
for pkg in "${wanted[@]}"; do
  name=${pkg%@*}
  [ -n "$name" ] || name=$pkg
  [ -f "build-npm/node_modules/$name/package.json" ] || missing+=("$pkg")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-npm: all ${#wanted[@]} listed npm packages present"
  exit 0
fi
mkdir -p build-npm
echo "install-npm: installing ${missing[*]}"
npm install --prefix build-npm --no-audit --no-fund --no-save "${wanted[@]}"
