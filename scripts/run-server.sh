#!/usr/bin/env bash
# Installs what is missing, builds the monitoring server and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo}
cmake --build "$BUILD_DIR" --target Varkon
exec "$BUILD_DIR/server/Varkon" "$@"
