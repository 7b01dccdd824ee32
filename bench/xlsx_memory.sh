#!/usr/bin/env bash
# Peak memory and time of reading workbooks, large and hostile, medians of N reads.
#
#   bench/xlsx_memory.sh [BUILD_DIR] [N]      (defaults: build, 5)
#
# Builds nothing: BUILD_DIR must hold bin/xlsx_memory. Every read is a process of its own, so
# /usr/bin/time's maximum resident size is what one read_workbook of that file costs (the
# program's own start-up, about 4 MB, included). The seconds are the read alone, as the program
# times it. The workbooks:
#   rows      100 000 case rows of five columns (numbers and shared strings), written by libxlsxwriter
#   many      4 000 000 rows of one number, a few hundred kilobytes packed: refused at row 1 048 577
#   big-cell  one inline text cell of 200 MiB, a few hundred kilobytes packed: refused at 32 767 characters
#   blank     one row and 500 MiB of blanks in the sheet: read through, below the 512 MiB part limit
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
runs=${2:-5}
case $build in /*) ;; *) build="$PWD/$build" ;; esac
exe="$build/bin/xlsx_memory"
[ -x "$exe" ] || { echo "xlsx_memory.sh: $exe not found; build the xlsx_memory target first" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "xlsx_memory.sh: /usr/bin/time is missing (Debian package time)" >&2; exit 2; }
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "xlsx_memory.sh: N must be a positive number" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tovik_xlsx_memory.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$exe" rows "$work/rows.xlsx" 100000
"$exe" many-rows "$work/many.xlsx" 4000000
"$exe" big-cell "$work/big-cell.xlsx" 200
"$exe" blank "$work/blank.xlsx" 500

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '%-9s %10s %9s %9s  %s\n' workbook "file KB" "peak MB" seconds outcome
for name in rows many big-cell blank; do
  file="$work/$name.xlsx"
  : >"$work/kb"
  : >"$work/s"
  outcome=
  for ((i = 0; i < runs; i++)); do
    # the program prints "seconds S rows N" or "seconds S error ..."; time writes the peak KB last
    out=$(/usr/bin/time -f '%M' "$exe" read "$file" 2>"$work/time")
    tail -n 1 "$work/time" >>"$work/kb"
    awk '{ print $2 }' <<<"$out" >>"$work/s"
    outcome=$(cut -d' ' -f3- <<<"$out")
    case $outcome in error*) outcome="refused: ${outcome##*: }" ;; esac
  done
  kb=$(median <"$work/kb")
  printf '%-9s %10d %9.1f %9s  %s\n' "$name" $(($(stat -c %s "$file") / 1024)) "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')" \
    "$(median <"$work/s")" "$outcome"
done
