#!/usr/bin/env bash
# Sets up a fresh machine and runs the main job: velacenter against the
# mainboard simulator, with a bus listener beside it.
#
#   [board] lines   the simulated mainboard: TX = frames it sends, RX = frames
#                   it receives from velacenter
#   [bus]   lines   what velacenter publishes on the message bus (JSON)
#
# The stroke-acceleration agent runs beside velacenter (on a private X server
# when there is no display); the board's marker request E0 11 comes back to
# the board as the agent's answer frame.
#
# After the link is up the board sends two frames (they come out as JSON on
# the bus), then two JSON messages are sent on the bus (they reach the board
# as frames). Type more board lines yourself, e.g. "frame C3 02 40" or
# "frame 12 34 56 78". Ctrl-C stops everything (velacenter takes about ten
# seconds for its orderly stop). RUN_SECONDS=N stops by itself after N
# seconds; RUN_NO_BUILD=1 starts what is already built.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
if [ -z "${RUN_NO_BUILD:-}" ]; then
  "$ROOT/scripts/install-deps.sh"
  BUILD_DIR="$BUILD_DIR" "$ROOT/scripts/build.sh"
fi

BIN="$BUILD_DIR/bin"
RUN_DIR="$BUILD_DIR/run"
BUS_PORT=23334

if command -v ss >/dev/null && ss -ltn 2>/dev/null | grep -q ":$BUS_PORT "; then
  echo "run: the bus port $BUS_PORT is taken (another velacenter or zqbus hub?); stop that first." >&2
  exit 1
fi

# velacenter reads version.ini and its tables from its own folder: install a
# copy in a run folder whose settings point at the simulator.
rm -rf "$RUN_DIR"
mkdir -p "$RUN_DIR"
cp "$BIN/velacenter" "$BIN"/*.xml "$BIN/apps.ini" "$RUN_DIR/"
PTY_LINK="$RUN_DIR/board-pty"
cat > "$RUN_DIR/version.ini" <<INI
[COM]
PortName=$PTY_LINK
[Log]
NeedLog=0
INI
cat > "$RUN_DIR/board-demo.txt" <<'DEMO'
wait link
sleep 1500
# a smart-screen table event: screen on
frame C3 01 01
sleep 1000
# a frame no table knows: passed through as EVENT_ANY
frame 12 34 56 78
sleep 1500
# the stroke marker request (red): the agent paints the corners and answers
frame E0 11 00 FF 00 00 0F
DEMO

PIDS=()
AGENT_DISPLAY="${DISPLAY:-}"
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  export QT_QPA_PLATFORM=offscreen   # no X display: widgets are drawn off screen
  # The stroke agent reads the screen from X: it gets a private 1920x1080 one.
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { AGENT_DISPLAY=":$n"; break; }
  done
  Xvfb "$AGENT_DISPLAY" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  PIDS+=($!)
fi
cleanup() {
  trap - EXIT INT TERM
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ -n "${CENTRE_PID:-}" ] && kill -0 "$CENTRE_PID" 2>/dev/null; then
    echo "run: stopping velacenter (orderly stop, about 10 s)..."
    kill -TERM "$CENTRE_PID" 2>/dev/null || true
    wait "$CENTRE_PID" 2>/dev/null || true
  fi
  echo "run: velacenter's output is in $RUN_DIR/velacenter.log, the agent's in $RUN_DIR/agent.log"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# velacenter, once the simulator's line exists.
(
  while [ ! -e "$PTY_LINK" ]; do sleep 0.1; done
  cd "$RUN_DIR" && exec ./velacenter
) > "$RUN_DIR/velacenter.log" 2>&1 &
CENTRE_PID=$!

# The stroke-acceleration agent beside it; it connects once the hub is up.
DISPLAY="$AGENT_DISPLAY" QT_QPA_PLATFORM=xcb "$BIN/VelaStrokeAccelerate" > "$RUN_DIR/agent.log" 2>&1 &
PIDS+=($!)

# The bus listener, once velacenter's hub accepts connections.
(
  for _ in $(seq 1 100); do
    "$BIN/zqbus" listen --as ID_APP_RUN_LISTENER --subscribe ID_APP_VELACENTER && exit 0
    [ $? -eq 3 ] || exit 1
    sleep 0.2
  done
) 2>&1 | sed -u '/no bus hub/d; s/^/[bus]   /' &
PIDS+=($!)

# The way back: two messages for the board once the link is up.
(
  for _ in $(seq 1 300); do
    grep -q "串口适配成功" "$RUN_DIR/velacenter.log" 2>/dev/null && break
    sleep 0.1
  done
  sleep 4
  echo "[run]   sending SMSC_BRIGHTNESS 64 to velacenter on the bus"
  "$BIN/zqbus" send --as ID_APP_RUN_DEMO --to ID_APP_VELACENTER \
    '{"eventid":"SMSC_BRIGHTNESS","to":"ID_APP_VELACENTER","param":[{"type":"Brightness","value":64}]}'
  sleep 1
  echo "[run]   sending EVENT_ANY EjRWeA== (bytes 12 34 56 78) to velacenter on the bus"
  "$BIN/zqbus" send --as ID_APP_RUN_DEMO --to ID_APP_VELACENTER \
    '{"eventid":"EVENT_ANY","to":"ID_APP_VELACENTER","param":"EjRWeA=="}'
) &
PIDS+=($!)

if [ -n "${RUN_SECONDS:-}" ]; then
  ( sleep "$RUN_SECONDS"; kill -INT $$ ) &
  PIDS+=($!)
fi

echo "[run]   velacenter in $RUN_DIR, board simulator on $PTY_LINK, bus port $BUS_PORT"
# The simulator reads this script's standard input (the terminal), so board
# lines can be typed while it runs.
"$BIN/boardsim" --mode v2 --link "$PTY_LINK" --script "$RUN_DIR/board-demo.txt" <&0 \
  > >(sed -u 's/^/[board] /') &
BOARD_PID=$!
PIDS+=($BOARD_PID)
wait "$BOARD_PID"
