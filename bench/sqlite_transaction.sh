#!/usr/bin/env bash
# 300 inserts into an SQLite file through `execute`, with one commit each and
# inside one `begin transaction` ... `commit`, side by side in one run (the
# figures of the databases chapter). Needs `build/velmar` and the SQLite ODBC
# driver (libsqliteodbc).
# Usage: bench/sqlite_transaction.sh [path/to/velmar]
set -euo pipefail

VELMAR=${1:-build/velmar}
WORK=$(mktemp -d /tmp/velmar-bench-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/Script"
for mode in single tx; do
  { echo "<main>"; echo "openaccess db $mode.db"
    echo "execute db create table t (n integer, s text)"
    [ "$mode" = tx ] && echo "execute db begin transaction"
    echo "var [#i] 0"; echo "while ([#i]<300)"; echo "{"
    echo "  execute db insert into t values ([#i], 'row [#i]')"; echo "  var [#i] ([#i]+1)"; echo "}"
    [ "$mode" = tx ] && echo "execute db commit"
    echo "query db r select count(*) from t"; echo "show [%r.0.0]"; echo "exit"; } > "$WORK/Script/$mode.vlm"
done
now() { date +%s.%N; }
for round in $(seq "${ROUNDS:-3}"); do
  rm -f "$WORK"/*.db
  T0=$(now); "$VELMAR" run --home "$WORK" "$WORK/Script/single.vlm" | grep -q '^show: 300$'; T1=$(now)
  "$VELMAR" run --home "$WORK" "$WORK/Script/tx.vlm" | grep -q '^show: 300$'; T2=$(now)
  S=$(echo "$T1 - $T0" | bc -l); X=$(echo "$T2 - $T1" | bc -l)
  printf 'round %d: 300 inserts, one commit each %.2f s, in one transaction %.2f s (%.0fx)\n' \
    "$round" "$S" "$X" "$(echo "$S / $X" | bc -l)"
done
