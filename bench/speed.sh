#!/usr/bin/env bash
# tovik's speed targets, measured with the pytest.ini that `tovik run` writes for a new user
# (allure results cleaned and written every run, a log file at info level), beside what a tester
# would otherwise use. Medians of N alternating runs, so background load hits all alike, after one
# untimed warm-up of each.
#
#   (1) cases    500 one-assert cases, and a single case (start-up)
#                against /usr/bin/python3 -m pytest -q -p no:cacheprovider (writing no report)
#   (2) api      REQUESTS x (set_json, add_header, send_http POST, save_jsonpath, assert) in one
#                case, and the same as one YAML case, against a local keep-alive server
#                (bin/api_bench_server); against one curl process sending the same requests on one
#                connection, and pytest with a requests.Session doing the same checks
#   (3) browser  ITERATIONS x (input, click, save_text, assert) in headless Chromium on the demo
#                form: per iteration, a case with the loop minus the same case without it; against
#                tovik's W3C client alone (bin/web_loop) with the minimal commands, and with those
#                plus the one script a lookup adds
#
#   bench/speed.sh [BUILD_DIR] [N]         (defaults: build, 7)
#   REQUESTS=1000 ITERATIONS=50 WORKLOADS="cases api browser" bench/speed.sh
#
# Builds nothing: BUILD_DIR must hold bin/tovik, bin/make_workbook, bin/api_bench_server,
# bin/demo_target and bin/web_loop (-DTOVIK_BENCH=ON, the default). Needs python3-pytest,
# python3-requests, curl and chromium-driver (scripts/setup installs them). Everything goes under
# $TMPDIR (default /tmp), where a new user's project would be; the file system's cost of creating
# files is part of the figures.
set -euo pipefail
export LC_ALL=C  # EPOCHREALTIME and awk with a '.' decimal point

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-"$root/build"}
runs=${2:-7}
requests=${REQUESTS:-1000}
iterations=${ITERATIONS:-50}
workloads=${WORKLOADS:-"cases api browser"}
case $build in /*) ;; *) build="$PWD/$build" ;; esac
python=/usr/bin/python3  # Debian's interpreter, the one that has python3-pytest

die() { echo "speed: $*" >&2; exit 2; }
for exe in tovik make_workbook api_bench_server demo_target web_loop; do
  [ -x "$build/bin/$exe" ] || die "$build/bin/$exe not found; build the tree (with -DTOVIK_BENCH=ON) first"
done
[[ $runs =~ ^[1-9][0-9]*$ && $requests =~ ^[1-9][0-9]*$ && $iterations =~ ^[1-9][0-9]*$ ]] ||
  die "N, REQUESTS and ITERATIONS must be positive numbers"
"$python" -m pytest --version >/dev/null 2>&1 || die "$python -m pytest does not work (python3-pytest)"
tovik="$build/bin/tovik"

. "$here/lib.sh"
start_work tovik_speed

echo "$("$tovik" --version 2>/dev/null | head -n 1) with the new user's pytest.ini; medians of $runs runs; wall ms"

# ---- (1) cases -------------------------------------------------------------------------------
if [[ " $workloads " == *" cases "* ]]; then
  # make_cases DIR COUNT: DIR/tovik with a workbook and DIR/pytest with a test module
  make_cases() {
    local dir=$1 n=$2 i
    project "$dir/tovik"
    mkdir -p "$dir/pytest"
    printf '[pytest]\n' >"$dir/pytest/pytest.ini"
    {
      echo "sheets:"
      for ((i = 0; i < n; i++)); do
        echo "  - name: case_$i"
        echo "    rows:"
        echo "      - [1, contains, assert, a, in, abc]"
      done
    } >"$dir/suite.wb.yaml"
    "$build/bin/make_workbook" "$dir/tovik/test_bench.xlsx" "$dir/suite.wb.yaml"
    for ((i = 0; i < n; i++)); do printf 'def test_%d():\n    assert "a" in "abc"\n\n\n' "$i"; done >"$dir/pytest/test_bench.py"
  }
  make_cases "$work/many" 500
  make_cases "$work/one" 1
  tovik_in() { (cd "$1/tovik" && "$tovik" run -q); }
  pytest_in() { (cd "$1/pytest" && "$python" -m pytest -q -p no:cacheprovider); }

  warm=() many_t=() many_p=() one_t=() one_p=()
  for d in many one; do
    timed warm tovik_in "$work/$d"
    timed warm pytest_in "$work/$d"
  done
  for ((r = 0; r < runs; r++)); do
    timed many_t tovik_in "$work/many"
    timed many_p pytest_in "$work/many"
    timed one_t tovik_in "$work/one"
    timed one_p pytest_in "$work/one"
  done
  m_many_t=$(median "${many_t[@]}") m_many_p=$(median "${many_p[@]}")
  m_one_t=$(median "${one_t[@]}") m_one_p=$(median "${one_p[@]}")
  echo "(1) cases: tovik against pytest"
  printf '  500 cases: tovik %s, pytest %s; one case: tovik %s, pytest %s\n' "$m_many_t" "$m_many_p" "$m_one_t" "$m_one_p"
  row "500 cases, tovik / pytest" "$(ratio "$m_many_t" "$m_many_p")" "<=" 0.10
  row "one case (start-up), tovik / pytest" "$(ratio "$m_one_t" "$m_one_p")" "<=" 0.10
  echo "  runs: tovik ${many_t[*]} | pytest ${many_p[*]} | one: tovik ${one_t[*]} | pytest ${one_p[*]}"
fi

# ---- (2) api ---------------------------------------------------------------------------------
if [[ " $workloads " == *" api "* ]]; then
  command -v curl >/dev/null || die "curl is not installed"
  "$python" -c 'import requests' 2>/dev/null || die "$python cannot import requests (python3-requests)"
  serve port api_bench_server '^listening on \(.*\)$' "$build/bin/api_bench_server"
  base="http://127.0.0.1:$port"

  project "$work/api"
  {
    echo "sheets:"
    echo "  - name: api"
    echo "    rows:"
    echo "      - [null, null, '@type', api]"
    for ((i = 0; i < requests; i++)); do
      echo "      - [$i, null, set_json, '{\"id\": $i, \"name\": \"tovik\"}']"
      echo "      - [$i, null, add_header, X-Bench, '$i']"
      echo "      - [$i, null, send_http, POST, /bench]"
      echo "      - [$i, null, save_jsonpath, got, \$.id]"
      echo "      - [$i, null, assert, '[$i]', equal, '{got}']"
    done
  } >"$work/api.wb.yaml"
  "$build/bin/make_workbook" "$work/api/test_api_bench.xlsx" "$work/api.wb.yaml"
  project "$work/yaml"
  {
    echo "name: api"
    echo "type: api"
    echo "steps:"
    for ((i = 0; i < requests; i++)); do
      echo "  - request: {method: POST, url: /bench, json: {id: $i, name: tovik}, headers: {X-Bench: '$i'}}"
      echo "    extract: {got: \$.id}"
      echo "    validate: {equals: {id: [\"\${got}\", $i]}}"
    done
  } >"$work/yaml/test_api_bench.yaml"
  {
    echo 'silent'
    echo 'fail'
    for ((i = 0; i < requests; i++)); do
      echo "url = \"$base/bench\""
      echo 'header = "Content-Type: application/json"'
      echo "header = \"X-Bench: $i\""
      echo "data = \"{\\\"id\\\": $i, \\\"name\\\": \\\"tovik\\\"}\""
      echo 'output = "/dev/null"'
      [ "$i" -lt $((requests - 1)) ] && echo 'next'
    done
  } >"$work/curl.cfg"
  mkdir -p "$work/requests"
  printf '[pytest]\n' >"$work/requests/pytest.ini"
  cat >"$work/requests/test_api_bench.py" <<EOF
import requests


def test_api_workload():
    session = requests.Session()
    del session.headers["Accept-Encoding"]  # the same request as the others: no compression asked
    for i in range($requests):
        r = session.post("$base/bench", json={"id": i, "name": "tovik"}, headers={"X-Bench": str(i)})
        assert r.status_code == 200
        assert [r.json()["id"]] == [i]
EOF
  api_tovik() { (cd "$work/$1" && TOVIK_API_BASE_URL=$base "$tovik" run -q); }
  api_curl() { curl -K "$work/curl.cfg"; }
  api_pytest() { (cd "$work/requests" && "$python" -m pytest -q -p no:cacheprovider); }

  warm=() a_t=() a_y=() a_c=() a_p=()
  timed warm api_tovik api
  timed warm api_tovik yaml
  timed warm api_curl
  timed warm api_pytest
  for ((r = 0; r < runs; r++)); do
    timed a_t api_tovik api
    timed a_y api_tovik yaml
    timed a_c api_curl
    timed a_p api_pytest
  done
  m_t=$(median "${a_t[@]}") m_y=$(median "${a_y[@]}") m_c=$(median "${a_c[@]}") m_p=$(median "${a_p[@]}")
  peak=$(cd "$work/api" && TOVIK_API_BASE_URL=$base /usr/bin/time -f '%M' "$tovik" run -q 2>&1 >/dev/null | tail -n 1)
  echo "(2) api: $requests requests"
  printf '  tovik %s, as YAML %s, curl %s, pytest + requests %s; tovik peak memory %.1f MB\n' "$m_t" "$m_y" "$m_c" "$m_p" \
    "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')"
  row "tovik / curl" "$(ratio "$m_t" "$m_c")" "<=" 1.2
  row "pytest + requests / tovik" "$(ratio "$m_p" "$m_t")" ">=" 5
  row "tovik YAML case / workbook case" "$(ratio "$m_y" "$m_t")" "<=" 1.2
  echo "  runs: tovik ${a_t[*]} | yaml ${a_y[*]} | curl ${a_c[*]} | pytest ${a_p[*]}"
fi

# ---- (3) browser -----------------------------------------------------------------------------
if [[ " $workloads " == *" browser "* ]]; then
  command -v chromedriver >/dev/null || [ -x /usr/bin/chromedriver ] || die "chromedriver is not installed"
  serve url demo_target '^tovik demo target listening on \(.*\)$' "$build/bin/demo_target" --port 0

  # make_web DIR COUNT: one case on the browser fixture that opens the form and repeats the work
  make_web() {
    local dir=$1 n=$2 i
    project "$dir"
    {
      echo "sheets:"
      echo "  - name: web"
      echo "    rows:"
      echo "      - [null, null, '@fixtures', browser]"
      echo "      - [1, browser, set_driver, browser]"
      echo "      - [2, form, goto, '{demo_url}/web/form']"
      for ((i = 1; i <= n; i++)); do
        echo "      - [null, null, input, 'name;;ID', 'v$i']"
        echo "      - [null, null, click, 'submit;;ID']"
        echo "      - [null, null, save_text, 'result;;ID', r]"
        echo "      - [null, null, assert, '提交$i：v$i <> 已有内容', equal, '{r}']"
      done
    } >"$dir.wb.yaml"
    "$build/bin/make_workbook" "$dir/test_web.xlsx" "$dir.wb.yaml"
  }
  make_web "$work/loop" "$iterations"
  make_web "$work/empty" 0
  web_tovik() {
    mkdir -p "$work/$1/temp"
    printf 'demo_url: %s\n' "$url" >"$work/$1/temp/variables.yaml"
    (cd "$work/$1" && "$tovik" run -q)
  }
  loop_ms() {  # the W3C client's ms per iteration in mode $1, from the directory of a project
    (cd "$work/loop" && "$build/bin/web_loop" "$url" "$iterations" "$1") | awk '{ print $4 }'
  }

  warm=() full=() base=() per=() minimal=() scripted=()
  timed warm web_tovik empty
  loop_ms minimal >/dev/null
  for ((r = 0; r < runs; r++)); do
    full=() base=()
    timed full web_tovik loop
    timed base web_tovik empty
    per+=("$(awk -v a="${full[0]}" -v b="${base[0]}" -v n="$iterations" 'BEGIN { printf "%.2f", (a - b) / n }')")
    minimal+=("$(loop_ms minimal)")
    scripted+=("$(loop_ms keyword-commands)")
  done
  m_w=$(median "${per[@]}") m_min=$(median "${minimal[@]}") m_s=$(median "${scripted[@]}")
  echo "(3) browser: $iterations iterations of input, click, save_text, assert; ms per iteration"
  printf '  tovik %s, W3C client with the lookup scripts %s, minimal commands %s\n' "$m_w" "$m_s" "$m_min"
  row "tovik / (minimal + one script per lookup)" "$(ratio "$m_w" "$m_s")" "<=" 1.10
  printf '  %-52s %9s\n' "tovik / minimal" "$(ratio "$m_w" "$m_min")"
  echo "  runs: tovik ${per[*]} | scripted ${scripted[*]} | minimal ${minimal[*]}"
fi
