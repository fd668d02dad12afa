#!/usr/bin/env bash
# Times clean builds from a fresh clone of this checkout's HEAD, as a benchmark
# (not a test): the app, the rig and the CLI as run-app.sh builds them, then the whole
# suite as run-tests.sh does, each in an empty build folder. ccache is kept out
# (CCACHE_DISABLE), so the figures are those of a first build.
# Usage: time-builds.sh [JOBS]   (default: every core)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${1:-$(nproc)}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git clone -q . "$work/clone"
cd "$work/clone"
export CCACHE_DISABLE=1
measure() {  # WHAT BUILD_DIR [TARGETS]
    local start=$(date +%s%N)
    BUILD_DIR=$2 BUILD_TARGETS=${3:-} JOBS=$jobs scripts/build.sh >/dev/null
    local ms=$(( ($(date +%s%N) - start) / 1000000 ))
    printf '%-44s %4d.%d s\n' "$1" $((ms / 1000)) $((ms % 1000 / 100))
}
echo "clean builds on $jobs job(s), $(nproc) core(s), load $(cut -d' ' -f1 /proc/loadavg), generator: $(command -v ninja >/dev/null && echo Ninja || echo Makefiles)"
measure "app, rig and CLI (run-app.sh)" build-app "vantrell vantrell-rig vantrell-cli"
measure "everything with the suite (run-tests.sh)" build-all
