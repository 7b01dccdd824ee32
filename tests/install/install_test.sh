#!/bin/sh
# install_test.sh CMAKE BUILD_DIR
# Installs BUILD_DIR into a temporary prefix and runs the installed tovik on copies of the demo
# workbooks that need no browser or Appium, with nothing pointing back at the build tree: the
# libraries must come through the RPATH and the packaged data from <prefix>/share.
set -eu
CMAKE="$1"
BUILD="$(cd "$2" && pwd)"
unset TOVIK_DATA_DIR LD_LIBRARY_PATH TOVIK_API_BASE_URL

TMP="$(mktemp -d)"
TARGET_PID=""
cleanup() {
  if [ -n "$TARGET_PID" ]; then kill "$TARGET_PID" 2>/dev/null || true; wait "$TARGET_PID" 2>/dev/null || true; fi
  rm -rf "$TMP"
}
trap cleanup EXIT INT TERM
fail() { echo "install_test: $*" >&2; exit 1; }

PREFIX="$TMP/prefix"
"$CMAKE" --install "$BUILD" --prefix "$PREFIX" >"$TMP/install.log" 2>&1 || { cat "$TMP/install.log"; fail "cmake --install failed"; }

[ -x "$PREFIX/bin/tovik" ] || fail "no bin/tovik"
[ -f "$PREFIX/share/tovik/file/pytest.ini.txt" ] || fail "no share/tovik/file/pytest.ini.txt"
[ -f "$PREFIX/share/tovik/tools/README.md" ] || fail "no share/tovik/tools/README.md"
# the keyword reference of every class, each page naming keywords only its class has
for page in all:send_http web:save_title app:activity api:send_http; do
  file="$PREFIX/share/doc/tovik/keywords-${page%%:*}.html"
  [ -f "$file" ] || fail "no $file"
  grep -q "${page#*:}" "$file" || fail "$file does not document ${page#*:}"
done
grep -q "save_title" "$PREFIX/share/doc/tovik/keywords-api.html" && fail "the API reference holds browser keywords"
# only the program and its libraries: no tests, demo programs or benchmarks
[ "$(ls "$PREFIX/bin")" = tovik ] || fail "bin holds more than tovik: $(ls "$PREFIX/bin" | tr '\n' ' ')"
for lib in "$PREFIX"/lib/*; do
  case "$(basename "$lib")" in
    libtovik_*.so) ;;
    *) fail "library without the tovik_ prefix: $lib" ;;
  esac
done

# Every library of the project resolves into the prefix, none into the build tree.
LIBDIR="$(readlink -f "$PREFIX/lib")"
for bin in "$PREFIX/bin/tovik" "$PREFIX"/lib/*.so; do
  deps="$(ldd "$bin")"
  if echo "$deps" | grep -q "not found"; then echo "$deps"; fail "unresolved library of $bin"; fi
  for path in $(echo "$deps" | sed -n 's/^[[:space:]]*libtovik_[^ ]* => \([^ ]*\) .*/\1/p'); do
    [ "$(dirname "$(readlink -f "$path")")" = "$LIBDIR" ] || { echo "$deps"; fail "$bin finds $path outside the prefix"; }
  done
done

# The API cases go to a demo target of their own.
"$BUILD/bin/demo_target" --port 0 >"$TMP/target.log" 2>&1 &
TARGET_PID=$!
URL=""
for _ in $(seq 1 100); do
  URL="$(sed -n 's/^tovik demo target listening on //p' "$TMP/target.log")"
  [ -n "$URL" ] && break
  kill -0 "$TARGET_PID" 2>/dev/null || { cat "$TMP/target.log"; fail "demo target ended"; }
  sleep 0.05
done
[ -n "$URL" ] || fail "demo target did not start"

# The suite without a pytest.ini: the installed template must be copied in.
SUITE="$TMP/suite"
mkdir -p "$SUITE"
cp "$BUILD/examples/demo/test_basics.xlsx" "$BUILD/examples/demo/test_api.xlsx" \
   "$BUILD/examples/demo/variables.yaml" "$SUITE/"
cd "$SUITE"
status=0
TOVIK_API_BASE_URL="$URL" "$PREFIX/bin/tovik" run -o tovik_variables=variables.yaml \
  -m "not demo_failure" >"$TMP/run.log" 2>&1 || status=$?
cat "$TMP/run.log"
[ "$status" -eq 0 ] || fail "tovik run ended with status $status"
cmp -s pytest.ini "$PREFIX/share/tovik/file/pytest.ini.txt" || fail "pytest.ini is not the installed template"
# the cases ran: the run's summary counts the passed ones
grep -Eq "[1-9][0-9]* passed" "$TMP/run.log" || fail "no passed cases in the output"
echo "install_test: ok"
