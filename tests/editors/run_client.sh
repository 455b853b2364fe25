#!/usr/bin/env bash
# Runs one of the real editor-protocol clients against the velmar binary:
#   run_client.sh neovim|lsp-node|debug-node VELMAR
# Exits 77 (skipped) when the client is not installed, except under CI=true,
# where every part is installed and a missing one is a failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
kind=$1
velmar=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

missing() {
  echo "SKIPPED: $1 is not installed" >&2
  if [ "${CI:-}" = "true" ]; then exit 1; fi
  exit 77
}

case "$kind" in
  neovim)
    command -v nvim >/dev/null 2>&1 || missing "nvim (Debian package neovim)"
    printf '%s\n' '<main>' 'var [#count] 2' 'call <sub>' 'goto <nowhere>' \
      'show [#count] [@len<<<abc]' '<sub>' 'return' > "$work/client.vlm"
    # Neovim's own files (shada, swap, logs) go to the throwaway folder.
    HOME="$work" XDG_STATE_HOME="$work" XDG_DATA_HOME="$work" XDG_CACHE_HOME="$work" \
      VELMAR="$velmar" SCRIPT="$work/client.vlm" \
      timeout 120 nvim --headless --clean -u NONE -n -c "luafile $here/neovim_client.lua"
    ;;
  lsp-node | debug-node)
    command -v node >/dev/null 2>&1 || missing "node (Debian package nodejs)"
    [ -d "$here/node_modules" ] || missing "the npm packages of tests/editors (scripts/install-npm.sh)"
    script=lsp_client.mjs
    [ "$kind" = debug-node ] && script=debug_client.mjs
    timeout 300 node "$here/$script" "$velmar" "$work"
    ;;
  vsix)
    # The extension as VS Code installs it: manifest, client, grammar and the
    # language client library it loads.
    [ -f "$velmar" ] || missing "velmar.vsix (scripts/install-npm.sh, then build)"
    listing=$(unzip -l "$velmar")
    for f in extension/package.json extension/extension.js extension/syntaxes/velmar.tmLanguage.json \
             extension/language-configuration.json extension/node_modules/vscode-languageclient/package.json; do
      grep -q " $f\$" <<<"$listing" || { echo "velmar.vsix lacks $f" >&2; exit 1; }
    done
    manifest=$(unzip -p "$velmar" extension/package.json)
    grep -q '"type": "velmar"' <<<"$manifest" || { echo "no velmar debugger in the manifest" >&2; exit 1; }
    unzip -p "$velmar" extension/syntaxes/velmar.tmLanguage.json | grep -q '"scopeName": "source.velmar"' ||
      { echo "the grammar is not the generated one" >&2; exit 1; }
    ;;
  *)
    echo "run_client.sh: unknown client $kind" >&2
    exit 2
    ;;
esac
