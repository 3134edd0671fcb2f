#!/usr/bin/env bash
# dbreport's rows equal psql's for the statement dbreport logged, read with
# day-month dates.  Usage: matches_psql.sh DBREPORT PGTEMP_DIR
set -euo pipefail
dbreport=$1; dir=$2
port=$(cat "$dir/port")
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
printf 'dbstring=QPSQL\ndbodbcname=%s:%s\ndbname=orvelo\ndbpass=orvelo-pw\ndbdefaultdb=orvelo\n' \
  "$dir" "$port" > "$work/store"
export ORVELO_REGISTRY="$work/store" PGPASSWORD=orvelo-pw PGOPTIONS="-c DateStyle=German,DMY"
check() {
  "$dbreport" "$@" > "$work/rows" 2> "$work/log"
  [ -s "$work/rows" ] || { echo "no rows for $*" >&2; exit 1; }
  psql -X -A -t -F $'\t' -h "$dir" -p "$port" -U orvelo -d orvelo -f "$work/log" > "$work/psql"
  diff "$work/psql" "$work/rows"
}
check overview T1 "01.03.2026 00:00:00" "31.03.2026 23:59:59"
check history 1001 "01.03.2026 00:00:00" "31.03.2026 23:59:59"
check history 3001 "01.01.2026 00:00:00" "31.12.2026 23:59:59"
# Usage and malformed dates exit 2, the unit report 1 until it exists.
for args in "overview T1 31.02.2026 01.03.2026" "history x 01.03.2026\ 00:00:00 01.03.2026\ 00:00:00" "" "unit"; do
  set +e; eval "\"$dbreport\" $args" >/dev/null 2>&1; rc=$?; set -e
  [ "$rc" -eq 2 ] || { echo "dbreport $args: exit $rc, not 2" >&2; exit 1; }
done
set +e; "$dbreport" unit 12 >/dev/null 2>&1; rc=$?; set -e
[ "$rc" -eq 1 ] || { echo "dbreport unit: exit $rc, not 1" >&2; exit 1; }
echo "dbreport matches psql"
