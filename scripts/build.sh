#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given as $BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} \
    -DVANTRELL_WERROR=${VANTRELL_WERROR:-OFF} "$@" >/dev/null
# BUILD_TARGETS, when set, builds only those (the app and the rig for run-app.sh).
cmake --build "$build" -j"$(nproc)" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
