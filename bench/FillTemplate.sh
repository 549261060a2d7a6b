#!/usr/bin/env bash
# Benchmark: korva fills a 100,000-row, 10-column CSV into a template with a
# script; the same job with python3-openpyxl for comparison; and the bundled
# example job, which inserts a table row for every order, on as many orders.
# Prints wall time and peak memory of each (GNU time).
#   bench/FillTemplate.sh [ROWS] [KORVA]   (defaults: 100000, build/release/korva)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
rows="${1:-100000}"
korva="$(realpath "${2:-$here/../build/release/korva}")"
if [ ! -x /usr/bin/time ]; then
  echo "This benchmark measures with GNU time: apt-get install time" >&2
  exit 2
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 "$here/fill_template_data.py" "$work" "$rows"
cp "$work/template.xlsx" "$work/korva.xlsx"
cp "$work/template.xlsx" "$work/python.xlsx"

measure() {  # label, command...
  local label=$1; shift
  /usr/bin/time -v "$@" 2> "$work/time.txt" >/dev/null
  local wall rss
  wall=$(grep "Elapsed (wall clock)" "$work/time.txt" | awk '{print $NF}')
  rss=$(grep "Maximum resident set size" "$work/time.txt" | awk '{print $NF}')
  printf '%-8s rows %d: wall %s, peak memory %d MB\n' "$label" "$rows" "$wall" $((rss / 1024))
}

measure korva "$korva" -x "$work/korva.xlsx" -c "$work/data.csv" -d , "$here/FillTemplate.rops"
measure openpyxl /usr/bin/python3 "$here/fill_template.py" "$work/python.xlsx" "$work/data.csv"
# The bundled example: one inserted table row per order.
/usr/bin/python3 - "$work/orders.csv" "$rows" <<'PY'
import sys
with open(sys.argv[1], "w") as out:
    out.write("Order,Customer,Date,Quantity,Price\n")
    for i in range(int(sys.argv[2])):
        out.write(f'{1000 + i},"Customer {i % 97}",2026-11-{i % 28 + 1:02d},{i % 100 + 1},{i % 999 + 1}.{i % 100:02d}\n')
PY
cp "$here/../examples/template.xlsx" "$work/orders.xlsx"
(cd "$here/../examples" && LC_ALL=C.UTF-8 measure example "$korva" -x "$work/orders.xlsx" -c "$work/orders.csv" \
  -p November -p 1003 fill_orders.rops)
# Both results hold the same values.
/usr/bin/python3 - "$work/korva.xlsx" "$work/python.xlsx" <<'PY'
import sys
from openpyxl import load_workbook
a, b = (load_workbook(p, read_only=True).worksheets[0] for p in sys.argv[1:3])
ra = [tuple(c for c in r) for r in a.iter_rows(min_row=2, max_row=6, values_only=True)]
rb = [tuple(c for c in r) for r in b.iter_rows(min_row=2, max_row=6, values_only=True)]
print("first rows equal:", ra == rb, "| last row:", a.max_row, b.max_row)
PY
