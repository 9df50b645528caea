#!/usr/bin/env bash
# Installs every Debian package that building, testing and running the
# programs need. Safe to run again: only missing packages are installed, and
# only then is sudo used (when not root already).
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache
  clang libclang-rt-dev
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-svg-dev
  qt6-qpa-plugins libqt6svg6 qt6-image-formats-plugins
  libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libmodbus-dev
  fonts-dejavu-core
  xvfb xauth
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "Missing packages: ${missing[*]}" >&2
      echo "Install them as root (there is no sudo here): bash scripts/setup.sh" >&2
      exit 1
    fi
    echo "Installing missing packages through sudo: ${missing[*]}" >&2
    SUDO="sudo"
  fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
