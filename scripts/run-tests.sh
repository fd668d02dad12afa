#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite (GUI tests on the offscreen platform).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure
