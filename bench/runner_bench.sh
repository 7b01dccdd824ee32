#!/usr/bin/env bash
# Wall time of `tovik run` against pytest on equivalent suites, medians of N runs.
#
#   bench/runner_bench.sh [BUILD_DIR] [N]      (defaults: build, 10)
#
# Builds nothing: BUILD_DIR must hold bin/tovik and bin/make_workbook. Runs of the two tools
# alternate, so background load hits both alike; one untimed warm-up run of each comes first
# (file cache, pytest's .pyc files). Everything, reports included, goes under $TMPDIR (default
# /tmp); TMPDIR=/dev/shm takes the file system out of the reporters' figures.
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

# A new report directory for every run, so each writes the same; nothing is deleted between runs,
# since on ext4 creating files right after deleting many is slower and would blur the figures.

# timed NAME cmd...: runs once and appends, in ms, the wall time to the array NAME and the CPU
# time (user, system; the command's processes) to NAME_user and NAME_sys. A failing run stops
# the benchmark, since its time would mean nothing.
timed() {
  local -n wall=$1 user=$1_user sys=$1_sys
  shift
  local t0 t1 rc=0 u s TIMEFORMAT='%3U %3S'
  t0=$EPOCHREALTIME
  { time "$@" >/dev/null 2>"$work/stderr"; } 2>"$work/cpu" || rc=$?
  t1=$EPOCHREALTIME
  if [ "$rc" -ne 0 ]; then
    echo "runner_bench: '$*' exited with $rc" >&2
    cat "$work/stderr" >&2
    exit 1
  fi
  read -r u s <"$work/cpu"
  wall+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", (b - a) * 1000 }')")
  user+=("$(awk -v x="$u" 'BEGIN { printf "%.0f", x * 1000 }')")
  sys+=("$(awk -v x="$s" 'BEGIN { printf "%.0f", x * 1000 }')")
}

median() {
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

for name in many_tovik many_pytest rep_tovik rep_pytest one_tovik one_pytest warm; do
  declare -a "$name=()" "${name}_user=()" "${name}_sys=()"
done

timed warm tovik_cmd "$work/many"
timed warm pytest_cmd "$work/many"
timed warm tovik_cmd "$work/one"
timed warm pytest_cmd "$work/one"

for ((r = 0; r < runs; r++)); do
  timed many_tovik tovik_cmd "$work/many"
  timed many_pytest pytest_cmd "$work/many"
  timed rep_tovik tovik_cmd "$work/many" --alluredir="$reports/$r/allure" --junitxml="$reports/$r/junit.xml"
  timed rep_pytest pytest_cmd "$work/many" --junitxml="$reports/$r/pytest-junit.xml"
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
cpu() {  # label name: median user and system CPU time of the runs in NAME
  local -n u=${2}_user s=${2}_sys
  printf '  %-34s user %5s ms, system %5s ms\n' "$1" "$(median "${u[@]}")" "$(median "${s[@]}")"
}
echo "CPU time of tovik (medians; system time is the kernel, e.g. creating the report files):"
cpu "(a) 500 cases" many_tovik
cpu "(a) 500 cases + reporters" rep_tovik
cpu "(b) 1 case" one_tovik
echo "all runs, wall time (ms):"
echo "  (a) tovik:           ${many_tovik[*]}"
echo "  (a) pytest:          ${many_pytest[*]}"
echo "  (a) tovik+reporters: ${rep_tovik[*]}"
echo "  (a) pytest+junitxml: ${rep_pytest[*]}"
echo "  (b) tovik:           ${one_tovik[*]}"
echo "  (b) pytest:          ${one_pytest[*]}"
