#!/usr/bin/env bash
# Sets up a fresh machine and runs the main job: for now the standalone bus
# hub on port 23334 (Ctrl-C stops it).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
"$ROOT/scripts/install-deps.sh"
BUILD_DIR="$BUILD_DIR" "$ROOT/scripts/build.sh"
exec "$BUILD_DIR/bin/zqbus" hub
