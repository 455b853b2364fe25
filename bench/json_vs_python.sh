#!/usr/bin/env bash
# [@json] reading 10 values out of a 1 MB JSON document, 100 times, beside
# Python's json module in the same run: once parsing the document in every
# round (what a script handed a new response each time does) and once
# parsing it a single time. Needs `build/velmar` and python3.
# Usage: bench/json_vs_python.sh [path/to/velmar]
set -euo pipefail

VELMAR=${1:-build/velmar}
WORK=$(mktemp -d /tmp/velmar-bench-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/home/Script"
python3 - "$WORK/doc.json" <<'PY'
import json, sys
items = [{"id": i, "name": "item %d" % i, "tags": ["a", "b"], "price": i * 1.25} for i in range(9000)]
doc = {"items": items, "meta": {"count": len(items), "next": "/p?page=2"}}
text = json.dumps(doc)
while len(text) < 1 << 20:
    items.append({"id": len(items), "name": "x", "tags": [], "price": 0})
    text = json.dumps(doc)
open(sys.argv[1], "w").write(text)
PY
PATHS="items.0.id items.1.name items.100.price items.2000.tags.1 items.5000.id items.8999.name meta.count meta.next items.42.tags items.7.price"
{ echo "<main>"; echo "var [#doc] [@readfile<<<$WORK/doc.json]"; echo "var [#i] 0";
  echo "while ([#i]<100)"; echo "{";
  for p in $PATHS; do echo "  var [#v] [@json<<<#doc<<<$p]"; done
  echo "  var [#i] ([#i]+1)"; echo "}"; echo "show [#v]"; echo "exit"; } > "$WORK/home/Script/json.vlm"
cat > "$WORK/read_json.py" <<PY
import json, sys
text = open("$WORK/doc.json").read()
paths = [[int(k) if k.isdigit() else k for k in p.split(".")] for p in "$PATHS".split()]
def read(doc):
    for p in paths:
        v = doc
        for k in p: v = v[k]
once = json.loads(text) if sys.argv[1] == "once" else None
for _ in range(100):
    read(once if once is not None else json.loads(text))
PY
now() { date +%s.%N; }
ROUNDS=${ROUNDS:-3}
for round in $(seq "$ROUNDS"); do
  T0=$(now); "$VELMAR" run --home "$WORK/home" "$WORK/home/Script/json.vlm" > "$WORK/out.txt"; T1=$(now)
  python3 "$WORK/read_json.py" each; T2=$(now); python3 "$WORK/read_json.py" once; T3=$(now)
  # The last value read, items.7.price, proves the reads found their values.
  grep -q '^show: 8.75$' "$WORK/out.txt" || { echo "velmar read no values: $(cat "$WORK/out.txt")" >&2; exit 1; }
  V=$(echo "$T1 - $T0" | bc -l); E=$(echo "$T2 - $T1" | bc -l); O=$(echo "$T3 - $T2" | bc -l)
  printf 'round %d: velmar %.2f s; python parsing every round %.2f s (%.1fx velmar), parsing once %.2f s (%.2fx velmar)\n' \
    "$round" "$V" "$E" "$(echo "$E / $V" | bc -l)" "$O" "$(echo "$O / $V" | bc -l)"
done
