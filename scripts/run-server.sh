#!/usr/bin/env bash
# Installs what is missing, builds the monitoring server and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo}
cmake --build "$BUILD_DIR" --target Varkon gprs_sim
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: the server window runs offscreen. Stop it with Ctrl+C." >&2
  export QT_QPA_PLATFORM=offscreen
fi
exec "$BUILD_DIR/server/Varkon" "$@"
