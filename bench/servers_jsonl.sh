#!/usr/bin/env bash
# Unattended runs, both figures side by side in one run:
#  1. the cost of the JSON record: 200 scripts under `vlmpack --headless`,
#     each doing GETS gets against a local nginx serving a 10 KB file and
#     showing a line after each, with the plain output and with --jsonl
#     (written to a file); the ratio jsonl / plain of the wall times;
#  2. the time from SIGTERM to exit with 50 running scripts under
#     `vlmpack --headless --jsonl` (and, beside it, without --jsonl).
# Rounds alternate the two outputs so that both see the same machine load;
# the medians are the figures.
# Usage: bench/servers_jsonl.sh [path/to/vlmpack]   (ROUNDS=5 GETS=50)
set -euo pipefail

VLMPACK=${1:-build/vlmpack}
ROUNDS=${ROUNDS:-5}
GETS=${GETS:-50}
WORK=$(mktemp -d /tmp/velmar-bench-XXXXXX)
NGINX_PID=
cleanup() {
  [ -n "$NGINX_PID" ] && kill "$NGINX_PID" 2>/dev/null && wait "$NGINX_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$WORK/root" "$WORK/logs" "$WORK/tmp"
head -c 10240 /dev/zero | tr '\0' 'x' > "$WORK/root/ten.html"
cat > "$WORK/nginx.conf" <<CONF
worker_processes 1; daemon off; master_process off; user root;
pid $WORK/nginx.pid; error_log $WORK/logs/error.log;
events { worker_connections 1024; }
http { access_log off; client_body_temp_path $WORK/tmp; proxy_temp_path $WORK/tmp;
  fastcgi_temp_path $WORK/tmp; uwsgi_temp_path $WORK/tmp; scgi_temp_path $WORK/tmp;
  server { listen 127.0.0.1:$PORT backlog=1024; root $WORK/root; } }
CONF
/usr/sbin/nginx -p "$WORK" -c "$WORK/nginx.conf" -e "$WORK/logs/error.log" &
NGINX_PID=$!
for _ in $(seq 100); do curl -s -o /dev/null "http://127.0.0.1:$PORT/ten.html" 2>/dev/null && break; sleep 0.05; done
URL="http://127.0.0.1:$PORT/ten.html"

# 1: 200 scripts of GETS gets, a line after each.
http="$WORK/http"
mkdir -p "$http/Script"
{
  echo "<main>"
  for i in $(seq "$GETS"); do echo "get $URL"; echo "show got $i: [#status]"; done
  echo "exit"
} > "$http/Script/get.vlm"
for i in $(seq 200); do echo "Script $i^get.vlm^$i"; done > "$http/Velmar.boot"

# 2: 50 scripts that keep running until they are stopped.
stop="$WORK/stop"
mkdir -p "$stop/Script"
printf '<main>\nshow running\nwhile 1\n{\nget %s\npause 20\n}\n' "$URL" > "$stop/Script/loop.vlm"
for i in $(seq 50); do echo "Loop $i^loop.vlm^"; done > "$stop/Velmar.boot"

now() { date +%s.%N; }
# Prints "WALL CPU" in seconds (CPU: user + system of vlmpack).
run_http() {  # output option...
  local TIMEFORMAT='%R %U %S' times
  times=$( { time "$VLMPACK" --headless --home "$http" "$@" > "$WORK/out" 2>/dev/null; } 2>&1 )
  local lines
  lines=$(grep -c 'got' "$WORK/out" || true)
  [ "$lines" -eq $((200 * GETS)) ] || { echo "expected $((200 * GETS)) lines, got $lines" >&2; exit 1; }
  echo "$times" | awk '{printf "%s %.3f\n", $1, $2 + $3}'
}
# Seconds from SIGTERM to the end of the program, once all 50 run.
stop_time() {
  local out="$WORK/stop.out" pid t0 t1
  "$VLMPACK" --headless --home "$stop" "$@" > "$out" 2>/dev/null &
  pid=$!
  for _ in $(seq 600); do
    [ "$(grep -c running "$out" || true)" -ge 50 ] && break
    sleep 0.02
  done
  sleep 0.3  # all of them inside their loop of gets and pauses
  t0=$(now)
  kill -TERM "$pid"
  local status=0
  wait "$pid" || status=$?
  t1=$(now)
  [ "$status" -eq 143 ] || { echo "vlmpack exited with $status after SIGTERM" >&2; exit 1; }
  echo "$t1 - $t0" | bc -l
}

ratios=()
cpu_ratios=()
stops_json=()
stops_plain=()
for round in $(seq "$ROUNDS"); do
  read -r plain plain_cpu < <(run_http)
  read -r json json_cpu < <(run_http --jsonl)
  ratio=$(echo "$json / $plain" | bc -l)
  cpu_ratio=$(echo "$json_cpu / $plain_cpu" | bc -l)
  ratios+=("$ratio")
  cpu_ratios+=("$cpu_ratio")
  sj=$(stop_time --jsonl)
  sp=$(stop_time)
  stops_json+=("$sj")
  stops_plain+=("$sp")
  printf 'round %d: 200 scripts x %d gets: plain %.3f s (cpu %.3f), jsonl %.3f s (cpu %.3f), ratio %.3f (cpu %.3f); SIGTERM to exit with 50 scripts: jsonl %.3f s, plain %.3f s\n' \
    "$round" "$GETS" "$plain" "$plain_cpu" "$json" "$json_cpu" "$ratio" "$cpu_ratio" "$sj" "$sp"
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
printf 'median: jsonl / plain wall time %.3f, cpu time %.3f (goal <= 1.05); SIGTERM to exit %.3f s with --jsonl, %.3f s plain (goal < 1 s)\n' \
  "$(median "${ratios[@]}")" "$(median "${cpu_ratios[@]}")" "$(median "${stops_json[@]}")" \
  "$(median "${stops_plain[@]}")"
