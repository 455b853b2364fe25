#!/bin/bash
# A scraping script's inner work: ten fields pulled out of one page of about
# 1 MB with ten named expressions, 100 times over, as a velmar script
# (`regex` once, `match` in the loop) and as the Python 3 anchor doing the
# same with `re` (compiled once, the groups of every match collected, ASCII
# case-insensitive like the script dialect). The two run alternately; the
# medians of whole-process wall and CPU time are printed with their ratio,
# and the result counts of both are compared.
#
#   bench/extract_vs_python.sh [path/to/velmar] [rounds]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
velmar=${1:-$here/build/velmar}
rounds=${2:-5}
turns=100
pages=(/usr/share/doc/python3.11/html/library/stdtypes.html
  /usr/share/doc/python3.11/html/library/functions.html)
[ -x "$velmar" ] || { echo "missing $velmar"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat "${pages[@]}" >"$work/page.html"
echo "page: $(wc -c <"$work/page.html") bytes, ten expressions, $turns turns, $rounds rounds"

# name | the script dialect | Python syntax (dot-all where the dialect's `.` takes line breaks)
fields=(
  'title|<title>{.*?}</title>|<title>([\s\S]*?)</title>'
  'heading|<h1>{[^<]*}|<h1>([^<]*)'
  'link|href="{[^"]*}"|href="([^"]*)"'
  'anchor|id="{[^"]*}"|id="([^"]*)"'
  'css|class="{[^"]*}"|class="([^"]*)"'
  'code|<span class="pre">{[^<]*}</span>|<span class="pre">([^<]*)</span>'
  'meta|<meta name="{[^"]*}" content="{[^"]*}"|<meta name="([^"]*)" content="([^"]*)"'
  'internal|<a class="reference internal" href="{[^"]*}"|<a class="reference internal" href="([^"]*)"'
  'cell|<td>{[^<]*}</td>|<td>([^<]*)</td>'
  'mail|{\w}@{\w}\.{\w}|([a-z]+)@([a-z]+)\.([a-z]+)'
)

mkdir -p "$work/home/Script"
{
  echo '<main>'
  echo "var [#page] [@readfile<<<$work/page.html]"
  for f in "${fields[@]}"; do
    IFS='|' read -r name vlm _ <<<"$f"
    echo "regex $name $vlm"
  done
  echo 'var [#n] 0'
  echo "while ([#n]<$turns)"
  echo '{'
  for f in "${fields[@]}"; do
    IFS='|' read -r name _ _ <<<"$f"
    echo "  match $name [#page]"
  done
  echo '  var [#n] ([#n]+1)'
  echo '}'
  for f in "${fields[@]}"; do
    IFS='|' read -r name _ _ <<<"$f"
    echo "show $name [\$$name.count]"
  done
} >"$work/home/Script/extract.vlm"

{
  echo 'import re'
  echo "text = open('$work/page.html', encoding='utf-8').read().replace('\\n', '\\r\\n')"
  echo 'patterns = ['
  for f in "${fields[@]}"; do
    IFS='|' read -r name _ py <<<"$f"
    printf "    ('%s', re.compile(r'%s', re.I | re.A | re.S)),\n" "$name" "$py"
  done
  echo ']'
  echo 'counts = {}'
  echo "for _ in range($turns):"
  echo '    for name, p in patterns:'
  echo '        results = []'
  echo '        for m in p.finditer(text):'
  echo '            results.extend(m.group(g) for g in range(1, p.groups + 1))'
  echo '        counts[name] = len(results)'
  echo 'for name, _ in patterns:'
  echo "    print('show: %s %d' % (name, counts[name]))"
} >"$work/extract.py"

cat >"$work/timed.py" <<'PY'
import os, subprocess, sys, time
out = open(sys.argv[1], "wb")
start = time.perf_counter()
p = subprocess.Popen(sys.argv[2:], stdout=out, stderr=subprocess.STDOUT)
_, status, usage = os.wait4(p.pid, 0)
wall = time.perf_counter() - start
print("%.0f %.0f" % (wall * 1000, (usage.ru_utime + usage.ru_stime) * 1000))
sys.exit(os.waitstatus_to_exitcode(status))
PY
median() { sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

: >"$work/v" && : >"$work/p"
for ((r = 0; r < rounds; ++r)); do
  python3 "$work/timed.py" "$work/vout" "$velmar" run --home "$work/home" \
    "$work/home/Script/extract.vlm" >>"$work/v"
  python3 "$work/timed.py" "$work/pout" python3 "$work/extract.py" >>"$work/p"
done
if diff <(grep '^show:' "$work/vout") <(grep '^show:' "$work/pout") >/dev/null; then
  echo "result counts: the same ($(grep -c '^show:' "$work/vout") fields)"
else
  echo "result counts differ (velmar | python):"
  paste -d'|' <(grep '^show:' "$work/vout") <(grep '^show:' "$work/pout")
fi
vw=$(cut -d' ' -f1 "$work/v" | median)
pw=$(cut -d' ' -f1 "$work/p" | median)
vc=$(cut -d' ' -f2 "$work/v" | median)
pc=$(cut -d' ' -f2 "$work/p" | median)
echo "velmar: ${vw} ms wall, ${vc} ms CPU (median)"
echo "python: ${pw} ms wall, ${pc} ms CPU (median)"
awk -v a="$vw" -v b="$pw" -v c="$vc" -v d="$pc" \
  'BEGIN { printf "ratio:  velmar / python = %.2f wall, %.2f CPU (below 1 means velmar is faster)\n", a / b, c / d }'
