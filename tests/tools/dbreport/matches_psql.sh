#!/usr/bin/env bash
# dbreport's rows equal psql's for the statement dbreport logged, read with
# day-month dates.  Usage: matches_psql.sh DBREPORT PGTEMP_DIR
set -euo pipefail
dbreport=$1; dir=$2
port=$(cat "$dir/port")
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
prog="$work/prog dir ěš"
printf 'dbstring=QPSQL\ndbodbcname=%s:%s\ndbname=orvelo\ndbpass=orvelo-pw\ndbdefaultdb=orvelo\nprogdir=%s\n' \
  "$dir" "$port" "$prog" > "$work/store"
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
# Usage and malformed dates exit 2.
for args in "overview T1 31.02.2026 01.03.2026" "history x 01.03.2026\ 00:00:00 01.03.2026\ 00:00:00" "" "unit"; do
  set +e; eval "\"$dbreport\" $args" >/dev/null 2>&1; rc=$?; set -e
  [ "$rc" -eq 2 ] || { echo "dbreport $args: exit $rc, not 2" >&2; exit 1; }
done
# The unit report of this month: none without the transfer workbook (two
# months back, December for January and February), then written; a unit
# the transfer workbook lacks writes nothing.
set +e; "$dbreport" unit T1 >/dev/null 2>&1; rc=$?; set -e
[ "$rc" -eq 1 ] || { echo "dbreport unit without a transfer workbook: exit $rc, not 1" >&2; exit 1; }
fixtures="$(dirname "$0")/../../fixtures/xls"
m=$((10#$(date +%m))); y=$(date +%Y)
if [ "$m" -le 2 ]; then m=12; y=$((y - 1)); else m=$((m - 2)); fi
mkdir -p "$prog/prgdata/export" "$prog/prgdata/sestavy"
cp "$fixtures/unit_transfer.xls" "$prog/prgdata/export/Voda $m $y pro přenos.xls"
cp "$fixtures/unit_template.xls" "$prog/prgdata/sestavy/sablonaJednotka.xls"
"$dbreport" unit T1 > "$work/unit" 2>/dev/null
grep -qx "Soubor vygenerovan: $prog/prgdata/export/prehledJednotky.xls" "$work/unit" || { cat "$work/unit" >&2; exit 1; }
set +e; "$dbreport" unit T9 >/dev/null 2>"$work/unit"; rc=$?; set -e
[ "$rc" -eq 1 ] && grep -qx "Nenalezeny detaily měřidla" "$work/unit" || { echo "dbreport unit T9: exit $rc" >&2; exit 1; }
echo "dbreport matches psql"
