#!/usr/bin/env bash
# 1,000 HTTPS requests to one local nginx (a 1 KB file), side by side in one
# run: a Velmar script with `keepalive 1`, the same script without it (a new
# connection and TLS handshake per request), and Python requests with a
# Session (one kept connection). Prints the times and the ratios.
# Needs `build/velmar`, nginx, openssl and python3-requests.
# Usage: bench/http_reuse_vs_requests.sh [path/to/velmar]
set -euo pipefail

VELMAR=${1:-build/velmar}
COUNT=${COUNT:-1000}
WORK=$(mktemp -d /tmp/velmar-bench-XXXXXX)
NGINX_PID=
cleanup() {
  [ -n "$NGINX_PID" ] && kill "$NGINX_PID" 2>/dev/null && wait "$NGINX_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$WORK/root" "$WORK/logs" "$WORK/tmp" "$WORK/home/Script"
head -c 1024 /dev/zero | tr '\0' 'x' > "$WORK/root/one.html"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
  -keyout "$WORK/key.pem" -out "$WORK/cert.pem" >/dev/null 2>&1
cat > "$WORK/nginx.conf" <<CONF
worker_processes 1; daemon off; master_process off; user root;
pid $WORK/nginx.pid; error_log $WORK/logs/error.log;
events { worker_connections 256; }
http { access_log off; client_body_temp_path $WORK/tmp; proxy_temp_path $WORK/tmp;
  fastcgi_temp_path $WORK/tmp; uwsgi_temp_path $WORK/tmp; scgi_temp_path $WORK/tmp;
  keepalive_requests 100000;
  server { listen 127.0.0.1:$PORT ssl; ssl_certificate $WORK/cert.pem;
    ssl_certificate_key $WORK/key.pem; root $WORK/root; } }
CONF
/usr/sbin/nginx -p "$WORK" -c "$WORK/nginx.conf" -e "$WORK/logs/error.log" &
NGINX_PID=$!
for _ in $(seq 100); do curl -sk -o /dev/null "https://127.0.0.1:$PORT/one.html" 2>/dev/null && break; sleep 0.05; done
URL="https://127.0.0.1:$PORT/one.html"
# The certificate is self-signed.
printf '[setting]\nsslverify=0\n' > "$WORK/home/Config.ini"

make_script() {  # file first-line
  { echo "<main>"; echo "$2"; echo "var [#i] 0"; echo "while ([#i]<$COUNT)"; echo "{";
    echo "  get $URL"; echo "  var [#i] ([#i]+1)"; echo "}"; echo "exit"; } > "$1"
}
make_script "$WORK/home/Script/reuse.vlm" "keepalive 1"
make_script "$WORK/home/Script/fresh.vlm" "keepalive 0"
cat > "$WORK/session.py" <<PY
import requests, urllib3
urllib3.disable_warnings()
with requests.Session() as s:
    for _ in range($COUNT):
        s.get("$URL", verify=False).content
PY

now() { date +%s.%N; }
run_velmar() { "$VELMAR" run --home "$WORK/home" "$WORK/home/Script/$1.vlm" >/dev/null; }
ROUNDS=${ROUNDS:-3}
for round in $(seq "$ROUNDS"); do
  T0=$(now); run_velmar reuse; T1=$(now); run_velmar fresh; T2=$(now)
  python3 "$WORK/session.py"; T3=$(now)
  R=$(echo "$T1 - $T0" | bc -l); F=$(echo "$T2 - $T1" | bc -l); P=$(echo "$T3 - $T2" | bc -l)
  printf 'round %d: %d requests: keepalive %.2f s, without %.2f s, requests.Session %.2f s; reuse is %.1fx faster than without, %.1fx requests.Session\n' \
    "$round" "$COUNT" "$R" "$F" "$P" "$(echo "$F / $R" | bc -l)" "$(echo "$P / $R" | bc -l)"
done
