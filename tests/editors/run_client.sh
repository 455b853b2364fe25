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
  *)
    echo "run_client.sh: unknown client $kind" >&2
    exit 2
    ;;
esac
