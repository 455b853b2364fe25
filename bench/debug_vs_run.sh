#!/bin/sh
# What the debugger costs a script: the 1,000,000-turn loop under
# `velmar debug` with no breakpoint, and with a breakpoint on a line the run
# never reaches, against `velmar run` of the same script. A small client
# speaks the adapter protocol (launch, breakpoints, configurationDone, wait
# for the end). The three take turns ROUNDS times (default 5); the best time
# of each counts. Goals: within 1.2x and 1.5x of `velmar run`.
#
#   [ROUNDS=N] bench/debug_vs_run.sh [path/to/velmar]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
velmar=${1:-$here/build/velmar}
rounds=${ROUNDS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '%s\n' '<main>' 'var [#n] 0' 'while ([#n]<1000000)' '{' '  var [#n] ([#n]+1)' '}' \
  'show [#n]' 'exit' '<never>' 'show not reached' 'return' > "$work/loop.vlm"

cat > "$work/client.py" <<'PY'
import json, subprocess, sys, time
velmar, script, line = sys.argv[1], sys.argv[2], int(sys.argv[3])
start = time.monotonic()
p = subprocess.Popen([velmar, "debug"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
seq = 0
def send(command, arguments):
    global seq
    seq += 1
    body = json.dumps({"seq": seq, "type": "request", "command": command, "arguments": arguments}).encode()
    p.stdin.write(b"Content-Length: %d\r\n\r\n%s" % (len(body), body))
    p.stdin.flush()
def read():
    head = b""
    while not head.endswith(b"\r\n\r\n"):
        head += p.stdout.read(1)
    return json.loads(p.stdout.read(int(head.split(b":")[1].split(b"\r")[0])))
send("initialize", {"adapterID": "velmar"})
send("launch", {"program": script})
if line:
    send("setBreakpoints", {"source": {"path": script}, "breakpoints": [{"line": line}]})
send("configurationDone", {})
while True:
    m = read()
    if m.get("type") == "event" and m.get("event") == "stopped":
        sys.exit("stopped at a breakpoint that should never be reached")
    if m.get("type") == "event" and m.get("event") == "terminated":
        break
send("disconnect", {})
p.stdin.close()
p.wait()
print(int((time.monotonic() - start) * 1e9))
PY

now_ns() { date +%s%N; }
best_run=0; best_free=0; best_never=0
i=0
while [ $i -lt "$rounds" ]; do
  t0=$(now_ns); "$velmar" run "$work/loop.vlm" >/dev/null; t=$(( $(now_ns) - t0 ))
  [ $best_run -eq 0 ] || [ $t -lt $best_run ] && best_run=$t
  t=$(python3 "$work/client.py" "$velmar" "$work/loop.vlm" 0)
  [ $best_free -eq 0 ] || [ $t -lt $best_free ] && best_free=$t
  t=$(python3 "$work/client.py" "$velmar" "$work/loop.vlm" 10)
  [ $best_never -eq 0 ] || [ $t -lt $best_never ] && best_never=$t
  i=$((i + 1))
done
awk -v r=$best_run -v f=$best_free -v n=$best_never 'BEGIN {
  printf "velmar run                       %8.1f ms\n", r / 1e6
  printf "velmar debug, no breakpoint      %8.1f ms  %.2fx (goal 1.2x)\n", f / 1e6, f / r
  printf "velmar debug, breakpoint unmet   %8.1f ms  %.2fx (goal 1.5x)\n", n / 1e6, n / r
}'
