#!/usr/bin/env bash
# Installs what is missing, builds the Debian packages of the monitoring
# server, the setup tool and the emulators, and puts them into dist/.
# BUILD_DIR and extra CMake options (CMAKE_ARGS) may be given in the environment.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD_DIR=${BUILD_DIR:-build-package}
if [ -e "$BUILD_DIR" ] && [ ! -w "$BUILD_DIR" ]; then
  echo "$BUILD_DIR is not yours to write (left by a run as root?): remove it with sudo rm -rf $BUILD_DIR" >&2
  exit 1
fi
# Compiled as Debian compiles its packages: its optimisation and hardening
# flags, no build type of CMake's own on top.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DOSTREL_TESTS=OFF -DOSTREL_BENCH=OFF -DOSTREL_PACKAGING=ON \
  -DCMAKE_CXX_FLAGS="$CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" ${CMAKE_ARGS:-}
cmake --build "$BUILD_DIR"
rm -f "$BUILD_DIR"/*.deb
(cd "$BUILD_DIR" && cpack -G DEB)
mkdir -p dist
rm -f dist/*.deb
cp "$BUILD_DIR"/*.deb dist/
ls -l dist/*.deb
