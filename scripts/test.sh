#!/usr/bin/env bash
# Sets up a fresh machine and runs the whole test suite: installs the
# dependencies, builds, and runs CTest under an X display (Xvfb if none).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
"$ROOT/scripts/install-deps.sh"
BUILD_DIR="$BUILD_DIR" "$ROOT/scripts/build.sh" "$@"
cd "$BUILD_DIR"
"$ROOT/scripts/with-display.sh" ctest --output-on-failure -j"${TEST_JOBS:-4}" --timeout 600
