#!/usr/bin/env bash
# Sets up, builds and starts Vantrell. With no DMX interface attached it first
# starts a virtual rig of stock fixtures and points the app's settings at it, so
# "Обнаруж." finds devices straight away.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# The app, the rig and vantrell-cli, which works right after the window; not the
# tests and benchmarks.
BUILD_TARGETS="vantrell vantrell-rig vantrell-cli" scripts/build.sh

interface_attached() {
    ls /dev/ttyUSB* /dev/ttyACM* >/dev/null 2>&1 && return 0
    grep -qsx 0403 /sys/bus/usb/devices/*/idVendor && return 0
    return 1
}

rig_pid=""
if [ "${VANTRELL_RIG:-auto}" = "always" ] || { [ "${VANTRELL_RIG:-auto}" = "auto" ] && ! interface_attached; }; then
    # A folder of the user's own: a fixed name in /tmp could be another user's first.
    log_dir=${XDG_STATE_HOME:-$HOME/.local/state}/vantrell
    mkdir -p -m 700 "$log_dir"
    log=$log_dir/rig.log
    build/vantrell-rig --devices "${RIG_DEVICES:-8}" --name rig --select-in-app >"$log" 2>&1 &
    rig_pid=$!
    trap 'kill $rig_pid 2>/dev/null; wait $rig_pid 2>/dev/null' EXIT
    for _ in $(seq 50); do grep -q '^line ' "$log" && break; sleep 0.1; done
    echo "No interface attached: virtual rig running ($log):"
    sed -n '1,20p' "$log"
fi
build/vantrell
