#!/usr/bin/env bash
# Installs what only the benchmarks need: the mosquitto broker that busbench
# measures the bus against, and its client library. The broker's package also
# enables a system service; busbench starts its own broker on a free port, so
# the service is switched off again where systemd runs.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/install-deps.sh" mosquitto libmosquitto-dev
if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO systemctl disable --now mosquitto >/dev/null 2>&1 || true
fi
echo "bench-deps: done; reconfigure the build (scripts/build.sh) so busbench is built"
