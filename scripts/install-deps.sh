#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/packages/*.txt.
#   install-deps.sh         everything: building, running, tests, benchmarks
#   install-deps.sh --run   only what building and running the programs needs
#                           (build.txt, data.txt, ui.txt, examples.txt)
# Idempotent: when everything is present it only checks and returns. It
# installs as root only; another user is told what to install.
set -euo pipefail
cd "$(dirname "$0")/.."

lists=(scripts/packages/*.txt)
if [ "${1:-}" = "--run" ]; then
  lists=(scripts/packages/build.txt scripts/packages/data.txt scripts/packages/ui.txt
         scripts/packages/examples.txt)
fi
mapfile -t wanted < <(cat "${lists[@]}" | sed -e 's/#.*//' -e 's/[[:space:]]//g' | grep -v '^$' | sort -u)
missing=()
for pkg in "${wanted[@]}"; do
  # A Node.js from outside Debian (NodeSource's) brings its own npm and
  # conflicts with Debian's npm package.
  if [ "$pkg" = npm ] && command -v npm >/dev/null 2>&1; then continue; fi
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#wanted[@]} packages present"
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing; install them as root and run this again:" >&2
  echo "  apt-get install --no-install-recommends ${missing[*]}" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
# Packaged servers must not run as system services: tests start their own
# throwaway instances on loopback.
for svc in mariadb nginx tinyproxy; do
  systemctl disable --now "$svc" >/dev/null 2>&1 || true
  service "$svc" stop >/dev/null 2>&1 || true
done
