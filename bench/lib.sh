# Helpers of the benchmark scripts (sourced): they expect $root and a die function.

# start_work NAME: a scratch directory $work under $TMPDIR, removed on exit with the servers that
# serve started.
start_work() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  servers=()
  trap cleanup EXIT
}
cleanup() {
  for pid in "${servers[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}

# A project directory with the new user's pytest.ini.
project() {
  mkdir -p "$1"
  cp "$root/file/pytest.ini.txt" "$1/pytest.ini"
}

# serve VAR NAME PATTERN cmd...: starts a server in the background (stopped on exit) and sets VAR
# to what its first output line matching the sed PATTERN captured (its address).
serve() {
  local -n found=$1
  local name=$2 pattern=$3 out="$work/$2.out" _
  shift 3
  "$@" >"$out" 2>&1 &
  servers+=($!)
  found=""
  for _ in $(seq 1 200); do
    found=$(sed -n "s/$pattern/\\1/p" "$out" | head -n 1)
    [ -n "$found" ] && return 0
    kill -0 "${servers[-1]}" 2>/dev/null || { cat "$out" >&2; die "$name did not start"; }
    sleep 0.05
  done
  die "$name did not start"
}

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
    echo "speed: '$*' exited with $rc" >&2
    tail -n 30 "$work/stdout" "$work/stderr" >&2
    exit 1
  fi
  wall+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", (b - a) * 1000 }')")
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
# row LABEL VALUE TARGET-OP TARGET: one result line with its verdict
row() {
  local verdict
  verdict=$(awk -v x="$2" -v op="$3" -v lim="$4" 'BEGIN { ok = (op == "<=") ? x <= lim : x >= lim; print ok ? "met" : "MISSED" }')
  printf '  %-52s %9s   target %s %-6s %s\n' "$1" "$2" "$3" "$4" "$verdict"
}

