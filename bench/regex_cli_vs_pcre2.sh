#!/bin/bash
# `velmar regex` against PCRE2's interpreter (no JIT) as whole processes: the
# same match-all, case-insensitive, with the same report, over an HTML file of
# ten copies of a large real page (about 17 MB), for the six patterns of
# bench_regex. Each round runs both, alternately; the medians of wall and CPU
# time are printed with their ratio, and the two reports are compared.
#
#   bench/regex_cli_vs_pcre2.sh [path/to/velmar] [path/to/pcre2_match_all] [rounds]
#
# pcre2_match_all is built by bench/regex/CMakeLists.txt (-DVELMAR_BENCH=ON).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
velmar=${1:-$here/build/velmar}
pcre=${2:-$here/build/bench/regex/pcre2_match_all}
rounds=${3:-7}
page=/usr/share/doc/python3.11/html/genindex-all.html
for tool in "$velmar" "$pcre"; do
  [ -x "$tool" ] || { echo "missing $tool"; exit 1; }
done
[ -r "$page" ] || { echo "missing $page (install python3.11-doc)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for _ in 1 2 3 4 5 6 7 8 9 10; do cat "$page"; done >"$work/page.html"
echo "text: $(wc -c <"$work/page.html") bytes, $rounds rounds"

# name | the script dialect | PCRE2 syntax | --dotall or nothing
cases=(
  'cell|<td>{[^<]*}</td>|<td>([^<]*)</td>|'
  'link|href="{[^"]*}"|href="([^"]*)"|'
  'title_lazy|<title>{.*?}</title>|<title>([\s\S]*?)</title>|--dotall'
  'name_number|{\w}={\z}|([a-z]+)=([0-9]+)|'
  'alternation|{(href)|(src)|(id)}="{[^"]*}"|(href|src|id)="([^"]*)"|'
  'mostly_failing|{\w}@{\w}\.{\w}|([a-z]+)@([a-z]+)\.([a-z]+)|'
)

# Runs a command with its report to a file; prints "wall_ms cpu_ms" (CPU is
# user plus system time of the process, from wait4, which a busy machine
# disturbs less than the wall clock).
cat >"$work/timed.py" <<'PY'
import os, subprocess, sys, time
out = open(sys.argv[1], "wb")
start = time.perf_counter()
p = subprocess.Popen(sys.argv[2:], stdout=out)
_, status, usage = os.wait4(p.pid, 0)
wall = time.perf_counter() - start
print("%.1f %.1f" % (wall * 1000, (usage.ru_utime + usage.ru_stime) * 1000))
sys.exit(os.waitstatus_to_exitcode(status))
PY
timed() { python3 "$work/timed.py" "$@"; }
median() { sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

printf '%-15s %9s %9s %9s %9s %7s %7s  %s\n' pattern velmar_ms pcre2_ms vlm_cpu pcre_cpu wall_x cpu_x reports
for c in "${cases[@]}"; do
  # The alternation pattern holds `|` itself: the fields are cut from both ends.
  name=${c%%|*}
  rest=${c#*|}
  flag=${rest##*|}
  rest=${rest%|*}
  case $name in
    alternation)
      vlm='{(href)|(src)|(id)}="{[^"]*}"'
      pat='(href|src|id)="([^"]*)"'
      ;;
    *)
      vlm=${rest%%|*}
      pat=${rest#*|}
      ;;
  esac
  : >"$work/v" && : >"$work/p"
  for ((r = 0; r < rounds; ++r)); do
    timed "$work/vout" "$velmar" regex "$vlm" "$work/page.html" >>"$work/v"
    # shellcheck disable=SC2086
    timed "$work/pout" "$pcre" $flag "$pat" "$work/page.html" >>"$work/p"
  done
  vw=$(cut -d' ' -f1 "$work/v" | median)
  pw=$(cut -d' ' -f1 "$work/p" | median)
  vc=$(cut -d' ' -f2 "$work/v" | median)
  pc=$(cut -d' ' -f2 "$work/p" | median)
  if cmp -s "$work/vout" "$work/pout"; then same=same; else
    same="differ ($(head -c 40 "$work/vout" | head -1 | tr -d '\r') vs $(head -c 40 "$work/pout" | head -1 | tr -d '\r'))"
  fi
  printf '%-15s %9.1f %9.1f %9.1f %9.1f %7.2f %7.2f  %s\n' "$name" "$vw" "$pw" "$vc" "$pc" \
    "$(awk -v a="$vw" -v b="$pw" 'BEGIN { print a / (b ? b : 1) }')" \
    "$(awk -v a="$vc" -v b="$pc" 'BEGIN { print a / (b ? b : 1) }')" "$same"
done
echo "ratios are velmar / pcre2: below 1 means velmar is faster"
