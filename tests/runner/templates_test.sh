#!/bin/sh
# The templates for servers as shipped: the systemd units pass
# `systemd-analyze verify` and their command line runs a script; the
# Kubernetes objects pass the object schemas of npm's kubernetes-models
# (installed by scripts/install-npm.sh into build-npm/).
#   templates_test.sh SOURCE_DIR VELMAR
set -eu
src=$(cd "$1" && pwd)
velmar=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "templates test: $*" >&2; exit 1; }
missing() {
  if [ "${CI:-}" = true ]; then fail "$1 is missing"; fi
  echo "templates test: $1 is missing; its checks are skipped" >&2
}

# systemd: a root with the program where the unit names it and the system's
# own units (the targets the template's dependencies reach).
if command -v systemd-analyze >/dev/null 2>&1 && [ -d /usr/lib/systemd/system ]; then
  root="$work/root"
  units="$root/usr/lib/systemd/system"
  mkdir -p "$root/usr/bin" "$root/usr/lib/systemd"
  cp -a /usr/lib/systemd/system "$root/usr/lib/systemd/"
  ln -s usr/lib "$root/lib"
  cp "$velmar" "$root/usr/bin/velmar"
  cp "$src/packaging/systemd/velmar@.service" "$src/packaging/systemd/velmar@.timer" "$units/"
  ln -s velmar@.service "$units/velmar@hello.service"
  ln -s velmar@.timer "$units/velmar@hello.timer"
  systemd-analyze verify --man=no --root="$root" "$units/velmar@hello.service" \
    "$units/velmar@hello.timer" >"$work/verify" 2>&1 || { cat "$work/verify" >&2; fail "systemd-analyze verify failed"; }
  # verify only warns about a setting it cannot parse: any word is a fault.
  if [ -s "$work/verify" ]; then cat "$work/verify" >&2; fail "systemd-analyze verify complained"; fi

  # The unit's command line, as systemd would run it for velmar@hello with
  # a time limit of 5 seconds, against a home folder of the test.
  home="$work/var/lib/velmar/hello"
  mkdir -p "$home/Script"
  printf 'show from the unit [#param]\n' >"$home/Script/hello.vlm"
  cmd=$(sed -n 's/^ExecStart=//p' "$units/velmar@.service" |
        sed -e "s|%i|hello|g" -e 's|${VELMAR_TIME_LIMIT}|5|' -e "s|/var/lib/velmar|$work/var/lib/velmar|" \
            -e "s|^/usr/bin/velmar|$velmar|")
  out=$(sh -c "$cmd") || fail "the unit's command failed: $cmd"
  echo "$out" | head -n 1 | grep -q '"name":"hello",.*"kind":"show","text":"from the unit "' ||
    fail "the unit's command printed: $out"
else
  missing "systemd-analyze"
fi

# Kubernetes.
modules="$src/build-npm/node_modules"
if command -v node >/dev/null 2>&1 && [ -d "$modules/kubernetes-models" ] && [ -d "$modules/yaml" ]; then
  NODE_PATH="$modules" node "$src/tests/runner/validate_kubernetes.js" \
    "$src"/packaging/kubernetes/*.yaml >"$work/k8s" 2>&1 || { cat "$work/k8s" >&2; fail "the Kubernetes templates are invalid"; }
  # The exit statuses the Job fails at once on are the permanent ones of
  # the program: a script error, a wrong command line, an unreadable script.
  for file in velmar-job.yaml velmar-cronjob.yaml; do
    grep -q 'values: \[1, 2, 3\]' "$src/packaging/kubernetes/$file" || fail "$file fails on other statuses"
  done
else
  missing "node with kubernetes-models and yaml (scripts/install-npm.sh)"
fi
echo "templates test: passed"
