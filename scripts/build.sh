#!/usr/bin/env bash
# Configures and builds the whole project into ./build (or $BUILD_DIR).
# Extra arguments go to the CMake configure step, e.g. -DVELA_SANITIZE=ON.
# BUILD_TARGETS="a b" builds only those targets (and what they need).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
TARGETS=()
for t in ${BUILD_TARGETS:-}; do TARGETS+=(--target "$t"); done
cmake --build "$BUILD_DIR" -j"$(nproc)" "${TARGETS[@]}"
