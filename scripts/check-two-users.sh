#!/usr/bin/env bash
# Two ordinary users on one machine, as CI runs it (as root, which only creates
# the users and hands each step to one of them). The other user plants a lines
# folder, tries to plant an entry, and a rig killed outright leaves its entry to a
# new terminal of the user's: vantrell-cli must list and open none of them.
# Usage: check-two-users.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ "$(id -u)" = 0 ] || { echo "check-two-users.sh runs as root: it creates the second user"; exit 77; }

command -v python3 >/dev/null || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3-minimal; }
me=vantrell-ci other=vantrell-ci-other
for u in "$me" "$other"; do id "$u" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$u"; done
my_uid=$(id -u "$me")
bin=$(mktemp -d /tmp/vantrell-bin.XXXXXX)
cp "$build/vantrell-cli" "$build/vantrell-rig" "$bin/"
chmod 755 "$bin" "$bin"/*
stuff=/tmp/vantrell-other-stuff
rigs=()
cleanup() {
    for p in "${rigs[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$bin" "$stuff" "/tmp/vantrell-$my_uid" "/tmp/vantrell-$(id -u "$other")"
}
trap cleanup EXIT
rm -rf "/tmp/vantrell-$my_uid" "$stuff"

# Each user's own session, with no runtime folder: the lines folder is under /tmp.
as() {
    local u=$1
    shift
    setpriv --reuid="$u" --regid="$u" --init-groups -- env -u XDG_RUNTIME_DIR HOME="/home/$u" \
        XDG_CONFIG_HOME="/home/$u/.config" "$@"
}
# The same in the background, as the program itself: $! is its process, to kill.
spawn() {
    local u=$1 out=$2
    shift 2
    setpriv --reuid="$u" --regid="$u" --init-groups -- env -u XDG_RUNTIME_DIR HOME="/home/$u" \
        XDG_CONFIG_HOME="/home/$u/.config" "$@" >"$out" 2>&1 &
}
failed=0
expect() {  # WHAT STATUS WANTED
    if [ "$2" = "$3" ]; then echo "ok   $1"; else echo "FAIL $1 (exit $2, wanted $3)"; failed=1; fi
}
wait_for() { for _ in $(seq 100); do [ -e "$1" ] && return 0; sleep 0.05; done; return 1; }

echo "== the other user's line, behind a lines folder planted for this user"
as "$other" mkdir -p -m 700 "$stuff"
spawn "$other" "$bin/other-rig.log" env XDG_RUNTIME_DIR="$stuff" "$bin/vantrell-rig" --devices 2 --name rig
rigs+=($!)
wait_for "$stuff/vantrell/lines/rig" || { echo "FAIL the other user's rig did not start"; exit 1; }
for plant in link folder; do
    rm -rf "/tmp/vantrell-$my_uid"
    if [ $plant = link ]; then
        as "$other" ln -s "$stuff/vantrell" "/tmp/vantrell-$my_uid"
    else
        as "$other" mkdir -m 700 "/tmp/vantrell-$my_uid"
        as "$other" ln -s "$stuff/vantrell/lines" "/tmp/vantrell-$my_uid/lines"
    fi
    status=0
    err=$(as "$me" "$bin/vantrell-cli" --kind vcp list 2>&1 >/dev/null) || status=$?
    echo "$err" | grep -q "virtual lines not listed: /tmp/vantrell-$my_uid" && said=yes || said=no
    expect "planted $plant: list says why it lists no line" "$said" yes
    for interface in rig "/tmp/vantrell-$my_uid/lines/rig"; do
        status=0
        as "$me" "$bin/vantrell-cli" --kind vcp --interface "$interface" discover >/dev/null 2>&1 || status=$?
        expect "planted $plant: --interface $interface is not opened" "$status" 3
    done
done
expect "the other user's rig heard no request" "$(grep -c '^-> ' "$bin/other-rig.log" || true)" 0

echo "== an entry planted in this user's own folder"
rm -rf "/tmp/vantrell-$my_uid"
spawn "$me" /dev/null "$bin/vantrell-rig" --devices 1 --name mine --quiet
rigs+=($!)
wait_for "/tmp/vantrell-$my_uid/lines/mine" || { echo "FAIL this user's rig did not start"; exit 1; }
expect "the folder is this user's alone" "$(stat -c %a "/tmp/vantrell-$my_uid")" 700
status=0
as "$other" ln -s "$stuff/vantrell/lines/rig" "/tmp/vantrell-$my_uid/lines/planted" 2>/dev/null || status=$?
expect "the other user cannot plant an entry" "$status" 1

echo "== an entry left by a rig killed outright, now leading to a new terminal of this user's"
spawn "$me" /dev/null "$bin/vantrell-rig" --devices 1 --name stale --quiet
rig=$!
wait_for "/tmp/vantrell-$my_uid/lines/stale"
target=$(readlink "/tmp/vantrell-$my_uid/lines/stale")
kill -9 "$rig"
wait "$rig" 2>/dev/null || true
# A terminal of the user's own takes the freed pseudo-terminal (new ones are
# opened until one has its number) and counts what reaches it.
as "$me" python3 -c '
import os, sys, time
held = []
for _ in range(64):
    master, slave = os.openpty()
    if os.ttyname(slave) == sys.argv[1]:
        break
    held.append((master, slave))
for m, s in held:
    os.close(m); os.close(s)
print(os.ttyname(slave), flush=True)
os.set_blocking(master, False)
time.sleep(4)
got = 0
try:
    got = len(os.read(master, 65536))
except BlockingIOError:
    pass
print(got, flush=True)
' "$target" >"$bin/terminal" &
terminal=$!
sleep 0.5
echo "   the entry led to $target; the new terminal is $(head -n 1 "$bin/terminal")"
listed=$(as "$me" "$bin/vantrell-cli" --kind vcp list --csv 2>/dev/null | grep -c ',stale,' || true)
expect "the stale entry is not listed" "$listed" 0
status=0
as "$me" "$bin/vantrell-cli" --kind vcp --interface "/tmp/vantrell-$my_uid/lines/stale" discover >/dev/null 2>&1 ||
    status=$?
expect "the stale entry is not opened" "$status" 3
wait "$terminal"
expect "nothing reached the new terminal" "$(tail -n 1 "$bin/terminal")" 0

exit $failed
