#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time.
# Usage: scripts/fuzz.sh [seconds per target]
# Extra CMake options (CMAKE_ARGS) may be given in the environment.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-60}
BUILD_DIR=${FUZZ_BUILD_DIR:-build-fuzz}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DOSTREL_FUZZ=ON -DOSTREL_BENCH=OFF ${CMAKE_ARGS:-}
TARGETS=(register_fuzz day_file_fuzz stream_framer_fuzz sms_listing_fuzz sms_pdu_fuzz)
cmake --build "$BUILD_DIR" --target "${TARGETS[@]}"
for target in "${TARGETS[@]}"; do
  corpus="$BUILD_DIR/corpus/$target"
  mkdir -p "$corpus"
  "$BUILD_DIR/fuzz/$target" -max_total_time="$SECONDS_PER_TARGET" -rss_limit_mb=2048 \
    -malloc_limit_mb=512 -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
done
