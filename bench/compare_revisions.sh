#!/usr/bin/env bash
# Runs the core's benchmark programs (loader, loop, expansion, regex, HTTP) of two
# revisions side by side: each revision is built in Release in a folder of
# its own, then every benchmark runs alternately, BEFORE then AFTER, ROUNDS
# times, so both see the same machine load. Prints the median real time of
# every benchmark for both and the ratio AFTER/BEFORE. On a virtual machine
# single figures swing by a quarter or more; where a ratio matters, count
# instructions too (valgrind --tool=callgrind on one benchmark of each).
#
#   bench/compare_revisions.sh BEFORE AFTER [ROUNDS]
#
# A revision is anything git knows (a commit, a branch) or "worktree" for the
# files as they are. Build folders are kept under /tmp/velmar-compare so a
# second comparison only rebuilds what changed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
before=${1:?give the revision to compare against}
after=${2:?give the revision to compare}
rounds=${3:-3}
base=/tmp/velmar-compare
programs=(bench_loader bench_executor_loop bench_expansion bench_regex http/bench_http)
mkdir -p "$base"

# Prepares and builds one revision; prints its build folder.
build_revision() {
  local rev=$1 src
  if [ "$rev" = worktree ]; then
    src=$here
  else
    src=$base/src-$(git -C "$here" rev-parse --short "$rev")
    if [ ! -d "$src" ]; then
      git -C "$here" worktree add --detach -q "$src" "$rev" >&2
    fi
  fi
  (cd "$src" && BUILD_TARGETS="velmar bench_loader bench_executor_loop bench_expansion bench_regex bench_http" \
    bash scripts/build.sh build-compare -DCMAKE_BUILD_TYPE=Release -DVELMAR_BENCH=ON \
    -DVELMAR_TESTS=OFF -DVELMAR_UI=OFF -DVELMAR_SANITIZE= >"$base/build-$(basename "$src").log" 2>&1) ||
    { echo "building $rev failed; see $base/build-$(basename "$src").log" >&2; exit 1; }
  echo "$src/build-compare/bench"
}

dir_before=$(build_revision "$before")
dir_after=$(build_revision "$after")

out=$base/results
rm -rf "$out"
mkdir -p "$out"
for round in $(seq "$rounds"); do
  for program in "${programs[@]}"; do
    for side in before after; do
      dir=dir_$side
      "${!dir}/$program" --benchmark_format=json >"$out/$side-$(basename "$program")-$round.json" \
        2>/dev/null
    done
  done
  echo "round $round of $rounds done" >&2
done

python3 - "$out" "$rounds" <<'PY'
import json, statistics, sys, glob, os
out, rounds = sys.argv[1], int(sys.argv[2])
times = {}
for path in glob.glob(os.path.join(out, "*.json")):
    side = os.path.basename(path).split("-", 1)[0]
    with open(path) as f:
        data = json.load(f)
    for b in data["benchmarks"]:
        if b.get("run_type", "iteration") != "iteration":
            continue
        times.setdefault(b["name"], {}).setdefault(side, []).append((b["real_time"], b["time_unit"]))
print(f"{'benchmark':44} {'before':>14} {'after':>14} {'after/before':>12}")
for name in sorted(times):
    sides = times[name]
    if "before" not in sides or "after" not in sides:
        print(f"{name:44} only in {' and '.join(sides)}")
        continue
    b = statistics.median(t for t, _ in sides["before"])
    a = statistics.median(t for t, _ in sides["after"])
    unit = sides["after"][0][1]
    print(f"{name:44} {b:11.3f} {unit:2} {a:11.3f} {unit:2} {a / b:12.2f}")
PY
