#!/usr/bin/env bash
# The API workload: REQUESTS times (POST with a JSON body and one header, pick a value of the JSON
# response, check it), against a local keep-alive server, by
#   tovik       one workbook case: set_json, add_header, send_http, save_jsonpath, assert per request
#   tovik yaml  the same as one YAML case: a request step with extract and validate per request
#   curl        one curl process sending the same requests on one connection (no checks: the floor)
#   pytest      /usr/bin/python3 -m pytest, one test with a requests.Session doing the same checks
#   python      the same loop as a plain /usr/bin/python3 script (no pytest start-up), for reference
# Wall time medians of N alternating runs, ratios against the targets, and tovik's peak memory.
#
#   bench/api_bench.sh [BUILD_DIR] [N] [REQUESTS]      (defaults: build, 5, 1000)
#
# Builds nothing: BUILD_DIR must hold bin/tovik, bin/make_workbook and bin/api_bench_server
# (configure with -DTOVIK_BENCH=ON). Needs curl, python3-requests, python3-pytest and time
# (scripts/setup installs them).
set -euo pipefail
export LC_ALL=C  # EPOCHREALTIME and awk with a '.' decimal point

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
runs=${2:-5}
requests=${3:-1000}
case $build in /*) ;; *) build="$PWD/$build" ;; esac
tovik="$build/bin/tovik"
make_workbook="$build/bin/make_workbook"
server="$build/bin/api_bench_server"
python=/usr/bin/python3

die() { echo "api_bench: $*" >&2; exit 2; }
for exe in "$tovik" "$make_workbook" "$server"; do
  [ -x "$exe" ] || die "$exe not found; build the tree with -DTOVIK_BENCH=ON first"
done
command -v curl >/dev/null || die "curl is not installed"
"$python" -c 'import requests' 2>/dev/null || die "$python cannot import requests (python3-requests)"
"$python" -m pytest --version >/dev/null 2>&1 || die "$python -m pytest does not work (python3-pytest)"
[[ $runs =~ ^[1-9][0-9]*$ ]] || die "N must be a positive number"
[[ $requests =~ ^[1-9][0-9]*$ ]] || die "REQUESTS must be a positive number"

work=$(mktemp -d "${TMPDIR:-/tmp}/tovik_api_bench.XXXXXX")
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

"$server" >"$work/server.out" 2>&1 &
server_pid=$!
port=""
for _ in $(seq 1 200); do
  port=$(sed -n 's/^listening on //p' "$work/server.out")
  [ -n "$port" ] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.out" >&2; die "the bench server did not start"; }
  sleep 0.02
done
[ -n "$port" ] || die "the bench server did not start"
base="http://127.0.0.1:$port"

# tovik: one case, five rows per request
mkdir -p "$work/tovik"
printf '[pytest]\n\n[tovik_api]\nbase_url = %s\n' "$base" >"$work/tovik/pytest.ini"
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
} >"$work/suite.wb.yaml"
"$make_workbook" "$work/tovik/test_api_bench.xlsx" "$work/suite.wb.yaml"

# tovik yaml: the same case as one YAML file, one request step per request
mkdir -p "$work/yaml"
cp "$work/tovik/pytest.ini" "$work/yaml/pytest.ini"
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

# curl: the same requests, one process, one connection
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

# pytest + requests, and the same loop without pytest
mkdir -p "$work/pytest"
printf '[pytest]\n' >"$work/pytest/pytest.ini"
cat >"$work/pytest/test_api_bench.py" <<EOF
import requests


def test_api_workload():
    session = requests.Session()
    del session.headers["Accept-Encoding"]  # the same request as the others: no compression asked
    for i in range($requests):
        r = session.post("$base/bench", json={"id": i, "name": "tovik"}, headers={"X-Bench": str(i)})
        assert r.status_code == 200
        assert [r.json()["id"]] == [i]
EOF
cat >"$work/plain.py" <<EOF
import requests

session = requests.Session()
del session.headers["Accept-Encoding"]
for i in range($requests):
    r = session.post("$base/bench", json={"id": i, "name": "tovik"}, headers={"X-Bench": str(i)})
    assert r.status_code == 200
    assert [r.json()["id"]] == [i]
EOF

tovik_cmd() { (cd "$work/tovik" && "$tovik" run -q); }
yaml_cmd() { (cd "$work/yaml" && "$tovik" run -q); }
curl_cmd() { curl -K "$work/curl.cfg"; }
pytest_cmd() { (cd "$work/pytest" && "$python" -m pytest -q -p no:cacheprovider); }
python_cmd() { "$python" "$work/plain.py"; }

# timed NAME cmd...: runs once and appends the wall time in ms to the array NAME. A failing run
# stops the benchmark, since its time would mean nothing.
timed() {
  local -n wall=$1
  shift
  local t0 t1 rc=0
  t0=$EPOCHREALTIME
  "$@" >"$work/stdout" 2>"$work/stderr" || rc=$?
  t1=$EPOCHREALTIME
  if [ "$rc" -ne 0 ]; then
    echo "api_bench: '$*' exited with $rc" >&2
    cat "$work/stdout" "$work/stderr" >&2
    exit 1
  fi
  wall+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", (b - a) * 1000 }')")
}

median() {
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

t_tovik=() t_yaml=() t_curl=() t_pytest=() t_python=() warm=()
# warm-up: file cache, .pyc files, the server's threads
timed warm tovik_cmd
timed warm yaml_cmd
timed warm curl_cmd
timed warm pytest_cmd
timed warm python_cmd
for ((r = 0; r < runs; r++)); do
  timed t_tovik tovik_cmd
  timed t_yaml yaml_cmd
  timed t_curl curl_cmd
  timed t_pytest pytest_cmd
  timed t_python python_cmd
done

m_tovik=$(median "${t_tovik[@]}") m_yaml=$(median "${t_yaml[@]}") m_curl=$(median "${t_curl[@]}")
m_pytest=$(median "${t_pytest[@]}") m_python=$(median "${t_python[@]}")

# peak memory of one tovik run
peak="n/a"
if [ -x /usr/bin/time ]; then
  (cd "$work/tovik" && /usr/bin/time -f '%M' -o "$work/rss" "$tovik" run -q >/dev/null)
  peak=$(awk '{ printf "%.1f", $1 / 1024 }' "$work/rss")
fi

verdict() { awk -v x="$1" -v op="$2" -v lim="$3" 'BEGIN { ok = (op == "<=") ? x <= lim : x >= lim; print ok ? "met" : "MISSED" }'; }
r_curl=$(awk -v t="$m_tovik" -v c="$m_curl" 'BEGIN { printf "%.2f", t / c }')
r_pytest=$(awk -v t="$m_tovik" -v p="$m_pytest" 'BEGIN { printf "%.1f", p / t }')
r_yaml=$(awk -v t="$m_tovik" -v y="$m_yaml" 'BEGIN { printf "%.2f", y / t }')
r_python=$(awk -v t="$m_tovik" -v p="$m_python" 'BEGIN { printf "%.1f", p / t }')

echo "API workload: $requests x (POST + JSON body + one header, pick \$.id, check); medians of $runs runs, wall ms"
printf '  %-28s %9s\n' "tovik run (one case)" "$m_tovik"
printf '  %-28s %9s\n' "tovik run (one YAML case)" "$m_yaml"
printf '  %-28s %9s\n' "(a) curl, one connection" "$m_curl"
printf '  %-28s %9s\n' "(b) pytest + requests" "$m_pytest"
printf '  %-28s %9s\n' "    plain python + requests" "$m_python"
printf '  %-44s %-14s %s\n' "tovik / curl = $r_curl" "target <= 1.5" "$(verdict "$r_curl" "<=" 1.5)"
printf '  %-44s %-14s %s\n' "pytest+requests / tovik = $r_pytest" "target >= 5" "$(verdict "$r_pytest" ">=" 5)"
printf '  %-44s %-14s %s\n' "tovik YAML / tovik workbook = $r_yaml" "target <= 1.2" "$(verdict "$r_yaml" "<=" 1.2)"
printf '  %-44s %-14s %s\n' "plain python / tovik = $r_python" "-" ""
if [ "$peak" = "n/a" ]; then
  echo "  peak memory of tovik run: not measured (/usr/bin/time missing; apt-get install time)"
else
  printf '  %-44s %-14s %s\n' "peak memory of tovik run = $peak MB" "target < 30" "$(verdict "$peak" "<=" 29.999)"
fi
echo "all runs (ms):"
echo "  tovik:  ${t_tovik[*]}"
echo "  yaml:   ${t_yaml[*]}"
echo "  curl:   ${t_curl[*]}"
echo "  pytest: ${t_pytest[*]}"
echo "  python: ${t_python[*]}"
