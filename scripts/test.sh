#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# BUILD_DIR and extra CMake options (CMAKE_ARGS) may be given in the environment.
set -euo pipefail
cd "$(dirname "$0")/.."
# Run as yourself: as root the build folder becomes root's.
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ]; then
  echo "Warning: running as root through sudo. Run it as $SUDO_USER instead, without sudo: bash scripts/test.sh" >&2
  echo "sudo is asked for only to install missing packages." >&2
fi
bash scripts/setup.sh
BUILD_DIR=${BUILD_DIR:-build}
if [ -e "$BUILD_DIR" ] && [ ! -w "$BUILD_DIR" ]; then
  echo "$BUILD_DIR is not yours to write (left by a run as root?): remove it with sudo rm -rf $BUILD_DIR" >&2
  exit 1
fi
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} ${CMAKE_ARGS:-}
cmake --build "$BUILD_DIR"
ctest --test-dir "$BUILD_DIR" --output-on-failure ${CTEST_ARGS:-}
