#!/usr/bin/env bash
# Wall time per iteration of a browser workload in headless Chromium, through `tovik run` and
# through tovik's W3C client alone, medians of RUNS runs.
#
#   bench/web_bench.sh [BUILD_DIR] [N] [RUNS]      (defaults: build, 200, 3)
#
# One iteration: input into the name field of the demo form, click the submit button, save_text
# of the result, assert equal. The keyword figure is one case of N such iterations, minus the
# same case without them (start-up, browser, page load), divided by N. The W3C client figures
# come from bench/web_loop (the loop alone): "minimal" sends only the commands the work needs,
# "keyword commands" also the ones the keywords add, so the remaining gap to the keyword figure
# is the keyword machinery (dispatch, log lines, report steps, variables, waits).
#
# Builds nothing: BUILD_DIR must hold bin/tovik, bin/make_workbook, bin/demo_target and
# bin/web_loop. The demo target runs on a free port of 127.0.0.1 for the duration.
set -euo pipefail
export LC_ALL=C  # EPOCHREALTIME and awk with a '.' decimal point

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
n=${2:-200}
runs=${3:-3}
case $build in /*) ;; *) build="$PWD/$build" ;; esac
for exe in tovik make_workbook demo_target web_loop; do
  [ -x "$build/bin/$exe" ] || { echo "web_bench: $build/bin/$exe not found; build the tree first" >&2; exit 2; }
done
[[ $n =~ ^[1-9][0-9]*$ && $runs =~ ^[1-9][0-9]*$ ]] || { echo "web_bench: N and RUNS must be positive numbers" >&2; exit 2; }
command -v chromedriver >/dev/null || [ -x /usr/bin/chromedriver ] || { echo "web_bench: chromedriver is not installed" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tovik_web_bench.XXXXXX")
target_pid=""
cleanup() {
  if [ -n "$target_pid" ]; then
    kill "$target_pid" 2>/dev/null || true
    wait "$target_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

"$build/bin/demo_target" --port 0 >"$work/target.log" 2>&1 &
target_pid=$!
url=""
for _ in $(seq 1 100); do
  url=$(sed -n 's/^tovik demo target listening on //p' "$work/target.log")
  [ -n "$url" ] && break
  kill -0 "$target_pid" 2>/dev/null || { cat "$work/target.log" >&2; exit 1; }
  sleep 0.05
done
[ -n "$url" ] || { echo "web_bench: the demo target did not start" >&2; exit 1; }

# Lean settings: no log file, no allure results; the browser as the fixture starts it.
printf '[pytest]\ntovik_variables = variables.yaml\n\n[tovik_ui]\ndriver_type = chrome\nheadless = true\nwait_max = 10\nwait_poll = 0.1\n' >"$work/pytest.ini"
printf 'demo_url: %s\n' "$url" >"$work/variables.yaml"

# make_suite FILE ITERATIONS: one case on the "browser" fixture that opens the form and repeats the workload.
make_suite() {
  local file=$1 count=$2 i
  {
    echo "sheets:"
    echo "  - name: web"
    echo "    rows:"
    echo "      - [null, null, '@fixtures', browser]"
    echo "      - [1, browser, set_driver, browser]"
    echo "      - [2, form, goto, '{demo_url}/web/form']"
    for ((i = 1; i <= count; i++)); do
      echo "      - [null, null, input, 'name;;ID', 'v$i']"
      echo "      - [null, null, click, 'submit;;ID']"
      echo "      - [null, null, save_text, 'result;;ID', r]"
      echo "      - [null, null, assert, '提交$i：v$i <> 已有内容', equal, '{r}']"
    done
  } >"$work/$file.wb.yaml"
  mkdir -p "$work/$file"
  cp "$work/pytest.ini" "$work/variables.yaml" "$work/$file/"
  "$build/bin/make_workbook" "$work/$file/test_web.xlsx" "$work/$file.wb.yaml"
}
make_suite loop "$n"
make_suite empty 0

# seconds of one `tovik run` in DIR; a failing run stops the benchmark
tovik_seconds() {
  local t0 t1 rc=0
  t0=$EPOCHREALTIME
  (cd "$work/$1" && "$build/bin/tovik" run -q >"$work/out" 2>&1) || rc=$?
  t1=$EPOCHREALTIME
  if [ "$rc" -ne 0 ]; then
    echo "web_bench: tovik run in $1 exited with $rc" >&2
    cat "$work/out" >&2
    exit 1
  fi
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}

# ms per iteration of web_loop in MODE
loop_ms() {
  local line
  line=$(cd "$work" && "$build/bin/web_loop" "$url" "$n" "$1") || { echo "web_bench: web_loop $1 failed" >&2; exit 1; }
  echo "$line" | awk '{ print $4 }'
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# one untimed warm-up of each (file cache, Chromium's first start)
tovik_seconds empty >/dev/null
loop_ms minimal >/dev/null

kw=() minimal=() same=() full=() base=()
for ((r = 1; r <= runs; r++)); do
  # the runs alternate, so background load hits all alike
  t_full=$(tovik_seconds loop)
  t_base=$(tovik_seconds empty)
  full+=("$t_full")
  base+=("$t_base")
  kw+=("$(awk -v a="$t_full" -v b="$t_base" -v n="$n" 'BEGIN { printf "%.2f", (a - b) * 1000 / n }')")
  minimal+=("$(loop_ms minimal)")
  same+=("$(loop_ms keyword-commands)")
done

m_kw=$(median "${kw[@]}")
m_min=$(median "${minimal[@]}")
m_same=$(median "${same[@]}")
echo "browser workload: $n iterations of input, click, save_text, assert equal; headless Chromium; medians of $runs runs"
printf '  %-44s %8.2f ms/iteration   (runs: %s)\n' "tovik run, keyword rows" "$m_kw" "${kw[*]}"
printf '  %-44s %8.2f ms/iteration   (runs: %s)\n' "W3C client, the keywords' commands" "$m_same" "${same[*]}"
printf '  %-44s %8.2f ms/iteration   (runs: %s)\n' "W3C client, minimal commands" "$m_min" "${minimal[*]}"
printf '  %-44s %8.3f s / %.3f s\n' "tovik run wall time with / without the loop" "$(median "${full[@]}")" "$(median "${base[@]}")"
awk -v k="$m_kw" -v s="$m_same" -v m="$m_min" 'BEGIN {
  printf "  keyword layer over minimal: %.2fx (%.2f ms/iteration); of that, extra commands %.2f ms, keyword machinery %.2f ms\n", k / m, k - m, s - m, k - s
}'
