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
# "frame 12 34 56 78", or "help". Ctrl-C stops everything in order: velacenter
# first (its orderly stop takes about ten seconds), then the simulator.
#
#   RUN_SECONDS=N    stop by itself after N seconds
#   RUN_NO_BUILD=1   start what is already built
#   VELA_BUS_PORT=N  use bus port N instead of 23334 (two checkouts side by side)
#   QT_LOGGING_RULES more trace rules for the logs of velacenter and the agent, after the demo's own
#                    "vela.core.debug=true;vela.dispatch.debug=true"
#
# Exit status: 0 when velacenter stopped cleanly, else 1.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
# Only what the demo runs, so a first start takes a fraction of the full build.
RUN_TARGETS=(velacenter boardsim zqbus VelaStrokeAccelerate)
if [ -z "${RUN_NO_BUILD:-}" ]; then
  "$ROOT/scripts/install-deps.sh"
  BUILD_DIR="$BUILD_DIR" BUILD_TARGETS="${RUN_TARGETS[*]}" "$ROOT/scripts/build.sh"
fi

BIN="$BUILD_DIR/bin"
RUN_DIR="$BUILD_DIR/run"
export VELA_BUS_PORT="${VELA_BUS_PORT:-23334}"
BUS_PORT=$VELA_BUS_PORT

if command -v ss >/dev/null && ss -ltn 2>/dev/null | grep -q ":$BUS_PORT "; then
  echo "run: the bus port $BUS_PORT is taken (another velacenter or zqbus hub?); stop that first or set VELA_BUS_PORT to a free port." >&2
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

CENTRE_PID=""
BOARD_PID=""
STATUS=0
# velacenter and the simulator run in sessions of their own, so a Ctrl-C in
# the terminal reaches only this script, which then stops them in order: the
# centre first (one SIGTERM, its orderly stop), then the simulator, so the
# centre never sees its board vanish.
cleanup() {
  trap - EXIT INT TERM
  if [ -n "$CENTRE_PID" ] && kill -0 "$CENTRE_PID" 2>/dev/null; then
    echo "[run]   stopping velacenter (orderly stop, about 10 s)..."
    kill -TERM "$CENTRE_PID" 2>/dev/null || true
    local rc=0
    wait "$CENTRE_PID" 2>/dev/null || rc=$?
    [ "$rc" -eq 0 ] || { echo "[run]   velacenter ended with status $rc" >&2; STATUS=1; }
  fi
  [ -n "$BOARD_PID" ] && kill -TERM "$BOARD_PID" 2>/dev/null || true
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  echo "[run]   velacenter's output is in $RUN_DIR/velacenter.log, the agent's in $RUN_DIR/agent.log"
  exit "$STATUS"
}
trap cleanup EXIT INT TERM

# velacenter, once the simulator's line exists. Its log shows the start-up
# and every frame and bus message the dispatch hub passes on (the demo waits
# for the link line there); rules given by the caller come last and win.
CENTRE_RULES="vela.core.debug=true;vela.dispatch.debug=true${QT_LOGGING_RULES:+;$QT_LOGGING_RULES}"
QT_LOGGING_RULES="$CENTRE_RULES" setsid bash -c 'while [ ! -e "$1" ]; do sleep 0.1; done; cd "$2" && exec ./velacenter' \
  _ "$PTY_LINK" "$RUN_DIR" > "$RUN_DIR/velacenter.log" 2>&1 < /dev/null &
CENTRE_PID=$!

# The stroke-acceleration agent beside it; it connects once the hub is up.
# Its traces (each request and its "sendIPC:" answer) go to agent.log.
AGENT_RULES="vela.strokeacc.debug=true${QT_LOGGING_RULES:+;$QT_LOGGING_RULES}"
DISPLAY="$AGENT_DISPLAY" QT_QPA_PLATFORM=xcb QT_LOGGING_RULES="$AGENT_RULES" \
  "$BIN/VelaStrokeAccelerate" > "$RUN_DIR/agent.log" 2>&1 &
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

echo "[run]   velacenter in $RUN_DIR, board simulator on $PTY_LINK, bus port $BUS_PORT"
# The simulator reads this script's standard input (the terminal), so board
# lines can be typed while it runs.
setsid "$BIN/boardsim" --mode v2 --link "$PTY_LINK" --script "$RUN_DIR/board-demo.txt" <&0 \
  > >(trap '' INT; exec sed -u 's/^/[board] /') &
BOARD_PID=$!

# Watch: a centre that dies is reported with the end of its log; the timed
# run ends by itself; the simulator ending (quit typed) ends the demo.
START=$SECONDS
while :; do
  if ! kill -0 "$CENTRE_PID" 2>/dev/null; then
    rc=0; wait "$CENTRE_PID" 2>/dev/null || rc=$?
    CENTRE_PID=""
    echo "[run]   velacenter ended by itself (status $rc); the end of its log:" >&2
    tail -n 15 "$RUN_DIR/velacenter.log" | sed 's/^/[run]     /' >&2
    STATUS=1
    break
  fi
  kill -0 "$BOARD_PID" 2>/dev/null || break
  if [ -n "${RUN_SECONDS:-}" ] && [ $((SECONDS - START)) -ge "$RUN_SECONDS" ]; then
    break
  fi
  sleep 0.2
done
