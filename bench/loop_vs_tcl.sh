#!/bin/sh
# The interpreter's headline loop, 1,000,000 turns of a `while` whose body is
# one variable increment, written in Tcl 8.6 as the anchor (an interpreter
# where everything is a string too) and, when build/velmar exists, as a
# velmar script. Each program runs ROUNDS times (default 5), the two taking
# turns, and the best time of each counts, so that a busy machine disturbs the
# ratio less. Prints both times and the ratio.
#
#   [ROUNDS=N] bench/loop_vs_tcl.sh [path/to/velmar]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
velmar=${1:-$here/build/velmar}
turns=1000000
rounds=${ROUNDS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now_ns() { date +%s%N; }

cat >"$work/loop.tcl" <<TCL
proc loop {} {
  set n 0
  while {\$n < $turns} {
    set n [expr {\$n + 1}]
  }
  return \$n
}
puts [loop]
TCL

cat >"$work/global.tcl" <<TCL
set n 0
while {\$n < $turns} {
  set n [expr {\$n + 1}]
}
puts \$n
TCL

# The anchor is the loop inside a procedure, Tcl's fastest form; the same
# loop at the top level (global variables) is printed for reference.
# best NAME NS: keeps the smaller time in the variable NAME.
best() { eval "cur=\${$1:-}"; if [ -z "$cur" ] || [ "$2" -lt "$cur" ]; then eval "$1=$2"; fi; }

mkdir -p "$work/home/Script"
cat >"$work/home/Script/loop.vlm" <<VLM
<main>
var [#n] 0
while ([#n]<$turns)
{
  var [#n] ([#n]+1)
}
show [#n]
VLM

have_velmar=1
if [ ! -x "$velmar" ]; then have_velmar=0; fi
round=0
while [ $round -lt "$rounds" ]; do
  round=$((round + 1))
  start=$(now_ns)
  tcl_result=$(tclsh "$work/loop.tcl")
  best tcl_ns $(( $(now_ns) - start ))
  start=$(now_ns)
  tclsh "$work/global.tcl" >/dev/null
  best tcl_global_ns $(( $(now_ns) - start ))
  [ $have_velmar -eq 1 ] || continue
  start=$(now_ns)
  set +e
  vlm_out=$("$velmar" run --home "$work/home" "$work/home/Script/loop.vlm" 2>&1)
  status=$?
  set -e
  best vlm_ns $(( $(now_ns) - start ))
  if [ $status -ne 0 ] || ! printf '%s\n' "$vlm_out" | grep -q "^show: $turns\$"; then
    echo "velmar: the loop did not run (exit $status): $(printf '%s' "$vlm_out" | head -3)"
    exit 1
  fi
done

echo "tcl:    ${turns} turns in $(( tcl_ns / 1000000 )) ms inside a proc (result $tcl_result)," \
  "best of $rounds"
echo "tcl:    ${turns} turns in $(( tcl_global_ns / 1000000 )) ms at the top level"
if [ $have_velmar -eq 0 ]; then
  echo "velmar: $velmar not built; nothing to compare"
  exit 0
fi
echo "velmar: ${turns} turns in $(( vlm_ns / 1000000 )) ms," \
  "$(( turns * 1000 / (vlm_ns / 1000000 + 1) )) turns per second, best of $rounds"
awk -v v="$vlm_ns" -v t="$tcl_ns" \
  'BEGIN { printf "ratio:  velmar / tcl = %.2f (below 1 means velmar is faster)\n", v / t }'
