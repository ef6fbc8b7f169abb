#!/usr/bin/env bash
# Configures and builds everything (deliverables and tests) into build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${QUILLON_BUILD_DIR:-$root/build}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel
fi
cmake --build "$build"
