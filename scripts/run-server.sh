#!/usr/bin/env bash
# Installs what is missing, builds the monitoring server and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
# Run as yourself: as root the build folder becomes root's, and the server
# would use root's settings and data.
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ]; then
  echo "Warning: running as root through sudo. Run it as $SUDO_USER instead, without sudo: bash scripts/run-server.sh" >&2
  echo "sudo is asked for only to install missing packages." >&2
fi
bash scripts/setup.sh
BUILD_DIR=${BUILD_DIR:-build}
if [ -e "$BUILD_DIR" ] && [ ! -w "$BUILD_DIR" ]; then
  echo "$BUILD_DIR is not yours to write (left by a run as root?): remove it with sudo rm -rf $BUILD_DIR" >&2
  exit 1
fi
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo}
cmake --build "$BUILD_DIR" --target Varkon gprs_sim
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: the server window runs offscreen. Stop it with Ctrl+C." >&2
  export QT_QPA_PLATFORM=offscreen
fi
exec "$BUILD_DIR/server/Varkon" "$@"
