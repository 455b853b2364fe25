#!/usr/bin/env bash
# Requests per second of Velmar scripts doing `get` against a local nginx
# serving a 10 KB file, beside ApacheBench on the same server in the same run:
# one script doing 2,000 gets vs `ab -n 2000 -c 1`, and 16 scripts at once
# vs `ab -n 16000 -c 16`. Needs `build/velmar run` (the executor).
# Usage: bench/http_vs_ab.sh [path/to/velmar]
set -euo pipefail

VELMAR=${1:-build/velmar}
WORK=$(mktemp -d /tmp/velmar-bench-XXXXXX)
NGINX_PID=
cleanup() {
  [ -n "$NGINX_PID" ] && kill "$NGINX_PID" 2>/dev/null && wait "$NGINX_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$WORK/root" "$WORK/logs" "$WORK/tmp" "$WORK/home/Script"
head -c 10240 /dev/zero | tr '\0' 'x' > "$WORK/root/ten.html"
cat > "$WORK/nginx.conf" <<CONF
worker_processes 1; daemon off; master_process off; user root;
pid $WORK/nginx.pid; error_log $WORK/logs/error.log;
events { worker_connections 256; }
http { access_log off; client_body_temp_path $WORK/tmp; proxy_temp_path $WORK/tmp;
  fastcgi_temp_path $WORK/tmp; uwsgi_temp_path $WORK/tmp; scgi_temp_path $WORK/tmp;
  server { listen 127.0.0.1:$PORT; root $WORK/root; } }
CONF
/usr/sbin/nginx -p "$WORK" -c "$WORK/nginx.conf" -e "$WORK/logs/error.log" &
NGINX_PID=$!
for _ in $(seq 100); do curl -s -o /dev/null "http://127.0.0.1:$PORT/ten.html" 2>/dev/null && break; sleep 0.05; done
URL="http://127.0.0.1:$PORT/ten.html"

make_script() {  # file count
  { echo "<main>"; for _ in $(seq "$2"); do echo "get $URL"; done; echo "exit"; } > "$1"
}
make_script "$WORK/home/Script/seq.vlm" 2000
# 1,000 gets per script, so that starting 16 processes (about 10 ms each)
# does not weigh more than the requests themselves.
make_script "$WORK/home/Script/part.vlm" 1000

printf '<main>\nsaveto %s\nget %s\n' "$WORK/probe.html" "$URL" > "$WORK/home/Script/probe.vlm"
"$VELMAR" run --home "$WORK/home" "$WORK/home/Script/probe.vlm" >/dev/null 2>&1 || true
if [ ! -s "$WORK/probe.html" ]; then
  echo "velmar run is not available in $VELMAR" >&2
  exit 2
fi

ab_rps() { ab -q -n "$1" -c "$2" "$URL" 2>/dev/null | awk '/Requests per second/ {print $4}'; }
now() { date +%s.%N; }

# Rounds alternate ab and velmar so that both see the same machine load; the
# median ratio of the rounds is the figure.
ROUNDS=${ROUNDS:-5}
seq_ratios=()
par_ratios=()
for round in $(seq "$ROUNDS"); do
  AB1=$(ab_rps 2000 1)
  T0=$(now); "$VELMAR" run --home "$WORK/home" "$WORK/home/Script/seq.vlm" >/dev/null; T1=$(now)
  V1=$(echo "2000 / ($T1 - $T0)" | bc -l)

  AB16=$(ab_rps 16000 16)
  T0=$(now)
  pids=()
  for _ in $(seq 16); do
    "$VELMAR" run --home "$WORK/home" "$WORK/home/Script/part.vlm" >/dev/null &
    pids+=($!)
  done
  wait "${pids[@]}"
  T1=$(now)
  V16=$(echo "16000 / ($T1 - $T0)" | bc -l)

  r1=$(echo "$V1 / $AB1" | bc -l)
  r16=$(echo "$V16 / $AB16" | bc -l)
  seq_ratios+=("$r1")
  par_ratios+=("$r16")
  printf 'round %d: sequential velmar %.0f rps, ab %.0f rps, ratio %.2f; 16 at once velmar %.0f rps, ab %.0f rps, ratio %.2f\n' \
    "$round" "$V1" "$AB1" "$r1" "$V16" "$AB16" "$r16"
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
printf 'median ratio (velmar / ab): sequential %.2f, 16 at once %.2f\n' \
  "$(median "${seq_ratios[@]}")" "$(median "${par_ratios[@]}")"
