#!/usr/bin/env bash
# Writes the reports of a fixed set of comparisons into a folder, so that a
# change meant to leave what users see alone can be proven to: run it before
# and after, then `diff -r BEFORE AFTER`. The comparisons: the demo databases
# (by position, by key, across databases, compare-databases) and a pair of the
# benchmark's tables (5000 and 5100 rows), in every format, and the fix
# scripts. Elapsed times and the server's port are masked.
# Usage: bash scripts/report-snapshot.sh OUTDIR [BUILD]   (BUILD: default build/test,
# which `bash scripts/test.sh` makes; it needs bin/dorvantis and bin/tds-server)
set -uo pipefail
cd "$(dirname "$0")/.."
out=${1:?usage: report-snapshot.sh OUTDIR [BUILD]}
build=${2:-build/test}
mkdir -p "$out"
rm -f "$out"/*.out "$out"/*.err "$out"/*.args
source scripts/tds-server.sh
work=$(mktemp -d)
trap 'tds_server_stop; rm -rf "$work"' EXIT

# The benchmark's bench_a and bench_b (see docs/manual.md, Big tables for
# benchmarks), smaller.
bench_table() {  # NAME LAST AMOUNT_EXTRA
    cat <<SQL
create table [$1] (id int not null primary key, big bigint, amount decimal(18,4), ratio float,
                   stamp datetime, name nvarchar(40), note varchar(200), flag bit);
with recursive c(x) as (select 1 union all select x + 1 from c where x < $2)
insert into [$1] select x,
  case when x % 1000 = 1 then null else x * 2654435761 end,
  case when x % 1000 = 2 then null else (x * 7919 % 100000000) / 10000.0$3 end,
  case when x % 1000 = 3 then null else x / 1024.0 end,
  case when x % 1000 = 4 then null
       else strftime('%Y-%m-%d %H:%M:%f', 1577836800 + x * 60.5, 'unixepoch') end,
  case when x % 1000 = 5 then null when x % 10 = 0 then 'Jürgen ' || x else 'Customer ' || x end,
  case when x % 1000 = 6 then null
       else substr('The quick brown fox jumps over the lazy dog', 1 + x % 17, 20 + x % 61) || ' #' || x end,
  case when x % 1000 = 7 then null else x % 3 = 0 end
from c;
SQL
}
{ bench_table bench_a 5000 ""; bench_table bench_b 5100 " + (x % 100 = 37)"; } >"$work/bench.sql"
tds_server_start "$work" "$build/bin/tds-server" --user demo:demo \
    --database demo=tools/tds-server/demo.sql \
    --database Sales_Restore=tools/tds-server/demo.sql,tools/tds-server/demo-restore.sql \
    --database bench="$work/bench.sql" || exit 1
export XDG_CONFIG_HOME="$work/config" ODBCSYSINI="$work/odbc" DORVANTIS_PASSWORD=demo LC_ALL=C.UTF-8
mkdir -p "$ODBCSYSINI"
printf '[SQL Server]\nDriver=%s\n' "$(tdsodbc_driver)" >"$ODBCSYSINI/odbcinst.ini"
: >"$ODBCSYSINI/odbc.ini"

n=0
snap() {  # COMMAND ARG...: its output, errors and exit status, masked
    local command=$1
    shift
    n=$((n + 1))
    echo "$command $*" >"$out/$n.args"
    "$build/bin/dorvantis" "$command" --server 127.0.0.1 --port "$tds_port" --user demo \
        --database demo "$@" >"$out/$n.out" 2>"$out/$n.err"
    echo "exit $?" >>"$out/$n.out"
    sed -i -e '/^-- Made by/d' -e 's/on server 127\.0\.0\.1,[0-9]*/on server PORT/' \
        -e 's/; [0-9.]* s\././' "$out/$n.out" "$out/$n.err"
}
for format in text csv json; do
    snap compare Orders Orders2024 --format $format
    snap compare Orders Orders2024 --key auto --format $format --summary
    snap compare Orders Orders --right-database Sales_Restore --key auto --format $format
    snap compare-databases --right-database Sales_Restore --key auto --format $format --details --summary
    snap compare bench_a bench_b --database bench --key auto --format $format
    snap compare bench_a bench_b --database bench --format $format
done
snap compare Orders Orders --right-database Sales_Restore --key auto --format sql
snap compare bench_a bench_b --database bench --key auto --format sql
echo "wrote $n reports to $out"
