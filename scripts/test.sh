#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# BUILD_DIR and extra CMake options (CMAKE_ARGS) may be given in the environment.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} ${CMAKE_ARGS:-}
cmake --build "$BUILD_DIR"
ctest --test-dir "$BUILD_DIR" --output-on-failure ${CTEST_ARGS:-}
