#!/usr/bin/env bash
# Parallel runs (-n) against serial ones, with the pytest.ini that `tovik run` writes for a new
# user. Medians of N alternating runs after one untimed warm-up of each.
#
#   (a) api      200 cases of one request each against a local server that answers after 50 ms:
#                tovik -n 4 against tovik serial, and against pytest-xdist -n 4 (python3-requests,
#                one session per worker) sending the same requests; 2.5 s is the floor
#   (b) browser  40 cases on their own headless Chromium (open the demo form, fill, submit, check):
#                tovik -n 2 against tovik serial
#   (c) cases    2000 one-assert cases: tovik -n 2 against tovik serial (the controller's own cost)
#
#   bench/parallel.sh [BUILD_DIR] [N]      (defaults: build, 5)
#   WORKLOADS="api cases" bench/parallel.sh
#
# Builds nothing: BUILD_DIR must hold bin/tovik, bin/make_workbook, bin/api_bench_server and
# bin/demo_target. Needs python3-pytest-xdist, python3-requests and chromium-driver.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-"$root/build"}
runs=${2:-5}
workloads=${WORKLOADS:-"api browser cases"}
case $build in /*) ;; *) build="$PWD/$build" ;; esac
python=/usr/bin/python3

die() { echo "parallel: $*" >&2; exit 2; }
for exe in tovik make_workbook api_bench_server demo_target; do
  [ -x "$build/bin/$exe" ] || die "$build/bin/$exe not found; build the tree (with -DTOVIK_BENCH=ON) first"
done
[[ $runs =~ ^[1-9][0-9]*$ ]] || die "N must be a positive number"
tovik="$build/bin/tovik"

. "$here/lib.sh"
start_work tovik_parallel

# run_in DIR ARGS...: tovik run -q ARGS in DIR
run_in() { (cd "$1" && shift && "$tovik" run -q "$@"); }
# against_serial DIR ARGS...: the runs of DIR serially and with ARGS, alternating, into the arrays
# serial and par and their medians m_s and m_p
against_serial() {
  local dir=$1 r
  shift
  warm=() serial=() par=()
  timed warm run_in "$dir"
  timed warm run_in "$dir" "$@"
  for ((r = 0; r < runs; r++)); do
    timed serial run_in "$dir"
    timed par run_in "$dir" "$@"
  done
  m_s=$(median "${serial[@]}") m_p=$(median "${par[@]}")
}

echo "$("$tovik" --version 2>/dev/null | head -n 1) with the new user's pytest.ini; medians of $runs runs; wall ms; $(nproc) CPUs"

# ---- (a) api ---------------------------------------------------------------------------------
if [[ " $workloads " == *" api "* ]]; then
  "$python" -c 'import xdist, requests' 2>/dev/null || die "$python lacks pytest-xdist or requests (python3-pytest-xdist)"
  serve port api_bench_server '^listening on \(.*\)$' "$build/bin/api_bench_server" --delay-ms 50
  base="http://127.0.0.1:$port"
  project "$work/api"
  {
    echo "sheets:"
    for ((i = 0; i < 200; i++)); do
      echo "  - name: api_$i"
      echo "    rows:"
      echo "      - [null, null, '@type', api]"
      echo "      - [1, null, set_json, '{\"id\": $i, \"name\": \"tovik\"}']"
      echo "      - [2, null, add_header, X-Bench, '$i']"
      echo "      - [3, null, send_http, POST, /bench]"
      echo "      - [4, null, save_jsonpath, got, \$.id]"
      echo "      - [5, null, assert, '[$i]', equal, '{got}']"
    done
  } >"$work/api.wb.yaml"
  "$build/bin/make_workbook" "$work/api/test_api.xlsx" "$work/api.wb.yaml"
  mkdir -p "$work/xdist"
  printf '[pytest]\n' >"$work/xdist/pytest.ini"
  cat >"$work/xdist/test_api.py" <<PY
import pytest
import requests

BASE = "$base"
_session = requests.Session()  # one per worker process, as tovik's workers each keep a client


@pytest.mark.parametrize("i", range(200))
def test_api(i):
    r = _session.post(BASE + "/bench", json={"id": i, "name": "tovik"}, headers={"X-Bench": str(i)})
    assert r.status_code == 200
    assert r.json()["id"] == i
PY
  api_in() { TOVIK_API_BASE_URL=$base run_in "$work/api" "$@"; }
  xdist_in() { (cd "$work/xdist" && "$python" -m pytest -q -p no:cacheprovider -n 4); }
  warm=() serial=() par=() xd=()
  timed warm api_in
  timed warm api_in -n 4
  timed warm xdist_in
  for ((r = 0; r < runs; r++)); do
    timed serial api_in
    timed par api_in -n 4
    timed xd xdist_in
  done
  m_s=$(median "${serial[@]}") m_p=$(median "${par[@]}") m_x=$(median "${xd[@]}")
  echo "(a) api: 200 cases, one request each, answered after 50 ms"
  printf '  tovik serial %s, tovik -n 4 %s (no run can beat 2500: 50 waits of 50 ms per worker), pytest-xdist -n 4 %s\n' \
    "$m_s" "$m_p" "$m_x"
  row "tovik serial / tovik -n 4" "$(ratio "$m_s" "$m_p")" ">=" 3.5
  row "pytest-xdist -n 4 / tovik -n 4" "$(ratio "$m_x" "$m_p")" ">=" 1.0
  echo "  runs: serial ${serial[*]} | -n 4 ${par[*]} | xdist ${xd[*]}"
fi

# ---- (b) browser -----------------------------------------------------------------------------
if [[ " $workloads " == *" browser "* ]]; then
  command -v chromedriver >/dev/null || [ -x /usr/bin/chromedriver ] || die "chromedriver is not installed"
  serve url demo_target '^tovik demo target listening on \(.*\)$' "$build/bin/demo_target" --port 0
  project "$work/web"
  {
    echo "sheets:"
    for ((i = 0; i < 40; i++)); do
      echo "  - name: web_$i"
      echo "    rows:"
      echo "      - [null, null, '@fixtures', browser]"
      echo "      - [1, browser, set_driver, browser]"
      echo "      - [2, form, goto, '{demo_url}/web/form']"
      echo "      - [3, null, input, 'name;;ID', 'v$i']"
      echo "      - [4, null, click, 'submit;;ID']"
      echo "      - [5, null, save_text, 'result;;ID', r]"
      echo "      - [6, null, assert, '提交1：v$i <> 已有内容', equal, '{r}']"
    done
  } >"$work/web.wb.yaml"
  "$build/bin/make_workbook" "$work/web/test_web.xlsx" "$work/web.wb.yaml"
  mkdir -p "$work/web/temp"
  printf 'demo_url: %s\n' "$url" >"$work/web/temp/variables.yaml"
  against_serial "$work/web" -n 2
  echo "(b) browser: 40 cases, each on its own headless Chromium"
  printf '  tovik serial %s, tovik -n 2 %s\n' "$m_s" "$m_p"
  row "tovik serial / tovik -n 2" "$(ratio "$m_s" "$m_p")" ">=" 1.6
  echo "  runs: serial ${serial[*]} | -n 2 ${par[*]}"
fi

# ---- (c) cases -------------------------------------------------------------------------------
if [[ " $workloads " == *" cases "* ]]; then
  project "$work/cases"
  {
    echo "sheets:"
    for ((i = 0; i < 2000; i++)); do
      echo "  - name: case_$i"
      echo "    rows:"
      echo "      - [1, contains, assert, a, in, abc]"
    done
  } >"$work/cases.wb.yaml"
  "$build/bin/make_workbook" "$work/cases/test_cases.xlsx" "$work/cases.wb.yaml"
  against_serial "$work/cases" -n 2
  echo "(c) cases: 2000 one-assert cases"
  printf '  tovik serial %s, tovik -n 2 %s\n' "$m_s" "$m_p"
  row "tovik -n 2 / tovik serial" "$(ratio "$m_p" "$m_s")" "<=" 1.3
  echo "  runs: serial ${serial[*]} | -n 2 ${par[*]}"
fi
