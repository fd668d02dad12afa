#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given as $BUILD_DIR): with
# Ninja when it is installed, through ccache when it is present, and without debug
# info unless BUILD_TYPE asks for it (it costs a third of the compile time).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
args=(-DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
      -DVANTRELL_WERROR="${VANTRELL_WERROR:-OFF}")
# A folder configured before keeps its generator; a new one takes Ninja.
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null; then
    args+=(-G Ninja)
fi
if command -v ccache >/dev/null; then
    args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" "${args[@]}" "$@" >/dev/null
# BUILD_TARGETS, when set, builds only those (the app and the rig for run-app.sh).
cmake --build "$build" -j"${JOBS:-$(nproc)}" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
