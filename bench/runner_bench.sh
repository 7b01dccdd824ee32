#!/usr/bin/env bash
# Wall time of `tovik run` against pytest on equivalent suites, medians of N runs.
#
#   bench/runner_bench.sh [BUILD_DIR] [N]      (defaults: build, 10)
#
# Builds nothing: BUILD_DIR must hold bin/tovik and bin/make_workbook. Runs of the two tools
# alternate, so background load hits both alike; one untimed warm-up run of each comes first
# (file cache, pytest's .pyc files).
set -euo pipefail
export LC_ALL=C  # EPOCHREALTIME and awk with a '.' decimal point

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
runs=${2:-10}
case $build in /*) ;; *) build="$PWD/$build" ;; esac
tovik="$build/bin/tovik"
make_workbook="$build/bin/make_workbook"
python=/usr/bin/python3  # Debian's interpreter, the one that has python3-pytest

for exe in "$tovik" "$make_workbook"; do
  [ -x "$exe" ] || { echo "runner_bench: $exe not found; build the tree first" >&2; exit 2; }
done
"$python" -m pytest --version >/dev/null 2>&1 || { echo "runner_bench: $python -m pytest does not work" >&2; exit 2; }
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "runner_bench: N must be a positive number" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tovik_runner_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# make_suite DIR CASES: DIR/tovik/test_bench.xlsx and DIR/pytest/test_bench.py with CASES cases.
# Separate directories, each with its own pytest.ini, so neither tool collects the other's file
# and tovik does not write a pytest.ini of its own.
make_suite() {
  local dir=$1 n=$2 i
  mkdir -p "$dir/tovik" "$dir/pytest"
  printf '[pytest]\n' >"$dir/tovik/pytest.ini"
  printf '[pytest]\n' >"$dir/pytest/pytest.ini"
  {
    echo "sheets:"
    for ((i = 0; i < n; i++)); do
      echo "  - name: case_$i"
      echo "    rows:"
      echo "      - [1, contains, assert, a, in, abc]"
    done
  } >"$dir/suite.wb.yaml"
  "$make_workbook" "$dir/tovik/test_bench.xlsx" "$dir/suite.wb.yaml"
  for ((i = 0; i < n; i++)); do
    printf 'def test_%d():\n    assert "a" in "abc"\n\n\n' "$i"
  done >"$dir/pytest/test_bench.py"
}

make_suite "$work/many" 500
make_suite "$work/one" 1
reports="$work/reports"

# Each tool runs in its suite directory; stdout is discarded, stderr kept for failures.
tovik_cmd() { (cd "$1/tovik" && "$tovik" run "${@:2}"); }
pytest_cmd() { (cd "$1/pytest" && "$python" -m pytest -q -p no:cacheprovider "${@:2}"); }

# Fresh report directory before each run (outside the timed part), so every run writes the same.
fresh_reports() { rm -rf "$reports" && mkdir -p "$reports"; }

# timed OUTVAR cmd...: runs once, appends the wall time in ms to the array OUTVAR; a failing
# run stops the benchmark, since its time would mean nothing.
timed() {
  local -n out=$1
  shift
  local t0 t1 rc=0
  t0=$EPOCHREALTIME
  "$@" >/dev/null 2>"$work/stderr" || rc=$?
  t1=$EPOCHREALTIME
  if [ "$rc" -ne 0 ]; then
    echo "runner_bench: '$*' exited with $rc" >&2
    cat "$work/stderr" >&2
    exit 1
  fi
  out+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", (b - a) * 1000 }')")
}

median() {
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

many_tovik=() many_pytest=() rep_tovik=() rep_pytest=() one_tovik=() one_pytest=() warm=()

timed warm tovik_cmd "$work/many"
timed warm pytest_cmd "$work/many"
timed warm tovik_cmd "$work/one"
timed warm pytest_cmd "$work/one"

for ((r = 0; r < runs; r++)); do
  timed many_tovik tovik_cmd "$work/many"
  timed many_pytest pytest_cmd "$work/many"
  fresh_reports
  timed rep_tovik tovik_cmd "$work/many" --alluredir="$reports/allure" --junitxml="$reports/junit.xml"
  fresh_reports
  timed rep_pytest pytest_cmd "$work/many" --junitxml="$reports/junit.xml"
  timed one_tovik tovik_cmd "$work/one"
  timed one_pytest pytest_cmd "$work/one"
done

m_many_t=$(median "${many_tovik[@]}") m_many_p=$(median "${many_pytest[@]}")
m_rep_t=$(median "${rep_tovik[@]}") m_rep_p=$(median "${rep_pytest[@]}")
m_one_t=$(median "${one_tovik[@]}") m_one_p=$(median "${one_pytest[@]}")

row() {  # label tovik_ms pytest_ms target verdict
  awk -v l="$1" -v t="$2" -v p="$3" -v g="$4" -v v="$5" \
    'BEGIN { printf "%-34s %10.1f %10.1f %8.3f   %-22s %s\n", l, t, p, t / p, g, v }'
}
verdict() { awk -v x="$1" -v lim="$2" 'BEGIN { print (x <= lim) ? "met" : "MISSED" }'; }

echo "tovik run vs $python -m pytest -q -p no:cacheprovider; medians of $runs runs, wall time in ms"
printf '%-34s %10s %10s %8s   %-22s %s\n' "suite" "tovik" "pytest" "ratio" "target" ""
row "(a) 500 cases" "$m_many_t" "$m_many_p" "ratio <= 0.1" \
  "$(verdict "$(awk -v t="$m_many_t" -v p="$m_many_p" 'BEGIN { print t / p }')" 0.1)"
row "(a) 500 cases + reporters (*)" "$m_rep_t" "$m_rep_p" "-" ""
row "(b) 1 case" "$m_one_t" "$m_one_p" "tovik <= 50 ms" "$(verdict "$m_one_t" 50)"
echo "(*) tovik: --alluredir and --junitxml; pytest: --junitxml (it has no allure writer here)."
awk -v a="$m_rep_t" -v b="$m_many_t" \
  'BEGIN { printf "reporters add %.1f ms to the 500-case tovik run (%.0f%%)\n", a - b, (a - b) / b * 100 }'
echo "all runs (ms):"
echo "  (a) tovik:           ${many_tovik[*]}"
echo "  (a) pytest:          ${many_pytest[*]}"
echo "  (a) tovik+reporters: ${rep_tovik[*]}"
echo "  (a) pytest+junitxml: ${rep_pytest[*]}"
echo "  (b) tovik:           ${one_tovik[*]}"
echo "  (b) pytest:          ${one_pytest[*]}"
