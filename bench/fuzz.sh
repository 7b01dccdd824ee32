#!/usr/bin/env bash
# Runs every libFuzzer target of fuzz/ for SECONDS each, one after the other.
#
#   bench/fuzz.sh SECONDS [BUILD_DIR]      (BUILD_DIR default: build-fuzz)
#   FUZZ_TARGETS="fuzz_yaml fuzz_ini" bench/fuzz.sh 600      only some targets
#
# Configures BUILD_DIR with clang and -DTOVIK_FUZZ=ON when it is not such a build yet, and builds
# only the fuzz targets (and the libraries they link), -j2. Each target starts from a copy of its
# seed corpus (fuzz/corpus/TARGET) in a temporary directory, so what a run adds never lands in
# the tree. Findings (crash-, leak-, timeout-, oom- files, each with the target's log) are kept
# in FUZZ_FINDINGS (default BUILD_DIR/fuzz-findings/DATE-TIME); reproduce one with
# `BUILD_DIR/bin/TARGET FILE`. Exits 1 when any target found something, 2 on a usage or build
# problem.
set -euo pipefail
export LC_ALL=C

die() { echo "fuzz: $*" >&2; exit 2; }

seconds=${1:-}
[[ $seconds =~ ^[1-9][0-9]*$ ]] || die "usage: bench/fuzz.sh SECONDS [BUILD_DIR]"
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-"$root/build-fuzz"}
case $build in /*) ;; *) build="$PWD/$build" ;; esac
all_targets="fuzz_xlsx fuzz_workbook_cases fuzz_jsonpath fuzz_locator fuzz_ini fuzz_yaml fuzz_expression"
targets=${FUZZ_TARGETS:-$all_targets}

command -v clang++ >/dev/null 2>&1 || die "clang++ not found (scripts/setup installs clang and libclang-rt-14-dev)"
if ! grep -qs '^TOVIK_FUZZ:BOOL=ON' "$build/CMakeCache.txt" || [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTOVIK_FUZZ=ON -DTOVIK_TESTS=OFF -DTOVIK_BENCH=OFF >/dev/null || die "configuring $build failed"
fi
# shellcheck disable=SC2086  # one word per target
cmake --build "$build" -j2 --target $targets || die "building the fuzz targets failed"

findings=${FUZZ_FINDINGS:-"$build/fuzz-findings/$(date +%Y%m%d-%H%M%S)"}
mkdir -p "$findings"
findings=$(cd "$findings" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tovik_fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

printf '%-22s %8s %12s %7s  %s\n' target seconds executions cov result
failed=0
for t in $targets; do
  exe="$build/bin/$t"
  [ -x "$exe" ] || die "$exe was not built"
  corpus="$work/corpus/$t"
  mkdir -p "$corpus"
  if [ -d "$root/fuzz/corpus/$t" ]; then cp -R "$root/fuzz/corpus/$t/." "$corpus/"; fi
  dict=()
  if [ -f "$root/fuzz/$t.dict" ]; then dict=(-dict="$root/fuzz/$t.dict"); fi
  log="$work/$t.log"
  touch "$work/$t.start"  # files of an earlier run in the same FUZZ_FINDINGS are not this one's
  rc=0
  # The outer limit only guards against a fuzzer that stops answering its own alarms.
  (cd "$work" && timeout -k 30 $((seconds + 300)) "$exe" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/$t-" "${dict[@]}" "$corpus") \
    >"$log" 2>&1 || rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1 || true)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2 || true)
  found=$(find "$findings" -maxdepth 1 -type f -name "$t-*" -newer "$work/$t.start" ! -name "$t-slow-unit-*" \
    ! -name '*.log' | sort || true)
  if [ "$rc" -eq 0 ] && [ -z "$found" ]; then
    result="nothing found"
  else
    failed=1
    cp "$log" "$findings/$t.log"
    result="FOUND (exit $rc): ${found:-see $findings/$t.log}"
  fi
  printf '%-22s %8s %12s %7s  %s\n' "$t" "$seconds" "${execs:-?}" "${cov:-?}" "${result//$'\n'/ }"
  if [ "$rc" -ne 0 ]; then
    grep -E '^(==[0-9]+==ERROR|SUMMARY|tovik fuzz:|.*runtime error:|ALARM|==[0-9]+== ERROR: libFuzzer)' "$log" | head -n 5 | sed 's/^/    /'
  fi
done

if [ "$failed" -ne 0 ]; then
  echo "fuzz: findings kept in $findings"
  exit 1
fi
rmdir "$findings" 2>/dev/null || true
exit 0
