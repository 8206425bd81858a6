#!/usr/bin/env bash
# Installs the build into a scratch root, builds outsideapp/ against it with
# find_package(Vela), and runs it on a hub of the installed zqbus: its
# greeting reaches a listener, and an answer sent to it reaches it.
#   installedtree.sh <build folder> <scratch folder> [C++ compiler] [compiler launcher]
set -euo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
BUILD="$1"
SCRATCH="$2"
CXX_COMPILER="${3:-c++}"
LAUNCHER="${4:-}"
unset LD_LIBRARY_PATH VELA_BUS_PORT

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
fail() {
  echo "installedtree: $*" >&2
  exit 1
}
# Runs a step quietly, showing its output only when it fails.
step() {
  local name="$1"
  shift
  "$@" >"$SCRATCH/$name.log" 2>&1 || { cat "$SCRATCH/$name.log" >&2; fail "$name failed"; }
}
# Waits up to 15 s for a pattern in a file.
wait_for() {
  for _ in $(seq 150); do
    grep -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  cat "$1" >&2 || true
  fail "no \"$2\" in $1"
}

rm -rf "$SCRATCH"
mkdir -p "$SCRATCH"
ROOT="$SCRATCH/root"
PREFIX="$(sed -n 's/^CMAKE_INSTALL_PREFIX:[A-Z]*=//p' "$BUILD/CMakeCache.txt")"
# DESTDIR, not --prefix: the settings, autostart entries and udev rule have
# system paths, which DESTDIR keeps below the scratch root as well.
step install env DESTDIR="$ROOT" cmake --install "$BUILD"
PREFIX="$ROOT$PREFIX"
step configure cmake -S "$HERE/outsideapp" -B "$SCRATCH/app" -DCMAKE_PREFIX_PATH="$PREFIX" \
  -DCMAKE_CXX_COMPILER="$CXX_COMPILER" -DCMAKE_CXX_COMPILER_LAUNCHER="$LAUNCHER" -DCMAKE_BUILD_TYPE=Release
step build cmake --build "$SCRATCH/app"
APP="$SCRATCH/app/outsideapp"
# Into a variable first: under pipefail, grep -q leaving early can make ldd
# die of SIGPIPE and fail a pipeline whose answer was right.
libs="$(ldd "$APP")"
grep -q "libzqipc.so.0 => $PREFIX/lib/libzqipc.so.0 " <<<"$libs" \
  || { echo "$libs" >&2; fail "outsideapp does not load the installed libzqipc"; }

# The installed tools, on a free port.
"$PREFIX/bin/zqbus" hub --port 0 2>"$SCRATCH/hub.err" &
pids+=($!)
wait_for "$SCRATCH/hub.err" "hub listening on"
PORT="$(sed -n 's/.*hub listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$SCRATCH/hub.err")"
"$PREFIX/bin/zqbus" listen --port "$PORT" --as ID_APP_OUTSIDE_LISTEN --count 1 --timeout 20 \
  >"$SCRATCH/listen.out" 2>"$SCRATCH/listen.err" &
listener=$!
pids+=($listener)
wait_for "$SCRATCH/listen.err" "listening as ID_APP_OUTSIDE_LISTEN"

VELA_BUS_PORT="$PORT" "$APP" ID_APP_OUTSIDE_LISTEN >"$SCRATCH/app.out" 2>"$SCRATCH/app.err" &
app=$!
pids+=($app)
wait "$listener" || fail "the listener heard nothing: $(cat "$SCRATCH/listen.out" "$SCRATCH/app.err")"
grep -q '"eventid": "OUTSIDE_HELLO"' "$SCRATCH/listen.out" || fail "listener got: $(cat "$SCRATCH/listen.out")"
"$PREFIX/bin/zqbus" send --port "$PORT" --to ID_APP_OUTSIDE '{"eventid":"OUTSIDE_REPLY"}' \
  || fail "zqbus send failed"
status=0
wait "$app" || status=$?
[ "$status" -eq 0 ] || fail "outsideapp ended with $status: $(cat "$SCRATCH/app.err")"
grep -q '"eventid":"OUTSIDE_REPLY"' "$SCRATCH/app.out" || fail "outsideapp printed: $(cat "$SCRATCH/app.out")"
echo "installedtree: outsideapp built against $PREFIX and talked on the bus"
