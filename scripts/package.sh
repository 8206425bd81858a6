#!/usr/bin/env bash
# Builds the Debian package of the suite and writes it to the output folder.
#   scripts/package.sh [output folder]      (default: $BUILD_DIR/package)
# BUILD_DIR picks the build tree (default ./build); a tree that is not there
# yet (a fresh clone) is configured and built first.
# The package file's name is printed on the last line.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  if [ "${PACKAGE_NO_BUILD:-0}" = 1 ]; then
    echo "package: no build tree in $BUILD_DIR (PACKAGE_NO_BUILD=1); run scripts/build.sh first" >&2
    exit 1
  fi
  # Configures the tree; the centre is needed in any case.
  BUILD_DIR="$BUILD_DIR" BUILD_TARGETS=velacenter "$ROOT/scripts/build.sh" >&2
fi
BUILD_DIR="$(cd "$BUILD_DIR" && pwd)"
OUT_DIR="${1:-$BUILD_DIR/package}"
mkdir -p "$OUT_DIR"
OUT_DIR="$(cd "$OUT_DIR" && pwd)"

# Only what the package carries is built here, not the tests; folders of the
# suite that are not written yet are left out. PACKAGE_NO_BUILD=1 packages the
# tree as it is (the test run, which built everything before).
if [ "${PACKAGE_NO_BUILD:-0}" != 1 ]; then
  targets=$(cmake --build "$BUILD_DIR" --target help \
    | grep -owE 'velacenter|serialtest|zqbus|boardsim|velatables|zqipc|sharedkit|serialhub|nethub|reshandler|VelaStrokeAccelerate' \
    | sort -u)
  # shellcheck disable=SC2086
  cmake --build "$BUILD_DIR" -j"${BUILD_JOBS:-$(nproc)}" --target $targets
fi

# Installing does not build everything first (CMAKE_SKIP_INSTALL_ALL_DEPENDENCY).
# CPack's scratch folder lies in the output folder, so packaging can run
# beside the tests.
cpack --config "$BUILD_DIR/CPackConfig.cmake" -G DEB -B "$OUT_DIR" >&2
rm -rf "$OUT_DIR/_CPack_Packages"
ls "$OUT_DIR"/*.deb
