#!/usr/bin/env bash
# Configures and builds everything (deliverables, packages and tests) into
# build/, or into $QUILLON_BUILD_DIR. Arguments go to `cmake --build`, e.g.
# `--target packages`; CMAKE_BUILD_PARALLEL_LEVEL sets the number of jobs.
set -euo pipefail
source "$(dirname "$0")/preamble.sh"  # $root and $build
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel
fi
cmake --build "$build" "$@"
