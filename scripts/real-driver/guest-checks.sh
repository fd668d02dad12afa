#!/bin/sh
# The checks of the real-driver check, run inside the guest with the host's
# filesystem as root. Each result is one "@@check ok|FAIL name" line; "@@host ..."
# asks the host to unplug or plug the adapter through the QEMU monitor, "@@mark"
# lets it count what QEMU traced between two points.
#
# The guest runs under TCG, many times slower than the machine it models, so the
# exchange's fast profile would measure the emulator: every run takes the fixed
# waits (--fixed-waits).
cli="$BUILD/vantrell-cli"
out=$TMPDIR/out
err=$TMPDIR/err
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"

reported=0  # said at the end, so that the host can tell a lost line
ok() { echo "@@check ok $*"; reported=$((reported + 1)); }
fail() {
    echo "@@check FAIL $*"
    reported=$((reported + 1))
    for f in "$out" "$err"; do [ -s "$f" ] && tail -n 8 "$f" | sed 's/^/  | /'; done
    return 0
}
check() {  # name, then the test as a command; its output is in $out and $err
    name=$1; shift
    if "$@"; then ok "$name"; else fail "$name"; fi
}

# Waits up to 20 s for a condition (a command).
wait_for() {
    i=0
    while [ $i -lt 200 ]; do "$@" && return 0; sleep 0.1; i=$((i + 1)); done
    return 1
}
tty_present() { [ -e /dev/ttyUSB0 ]; }
adapter_gone() { ! ls /sys/bus/usb/devices/ | grep -q '^[0-9]-[0-9]$'; }
adapter_bound() { ls /sys/bus/usb/drivers/ftdi_sio/ 2>/dev/null | grep -q ':1\.0$'; }

# As the README says: the interface leaves ftdi_sio, the device stays.
unbind() {
    intf=$(basename "$(readlink -f /sys/class/tty/ttyUSB0/device/..)")
    printf %s "$intf" > /sys/bus/usb/drivers/ftdi_sio/unbind
}

run() {  # vantrell-cli with the kind's options; its status in $status
    "$cli" $kind_options --fixed-waits --discovery-timeout 60 "$@" > "$out" 2> "$err"
    status=$?
    return 0
}
status_is() { [ "$status" = "$1" ]; }

# Every rig device found, with the start address and footprint the rig gave it.
found_every_device() {
    status_is 0 || return 1
    for entry in $RIG_UIDS; do
        e_uid=${entry%%/*}; e_rest=${entry#*/}
        grep -q "^$e_uid,[^,]*,[^,]*,[^,]*,${e_rest%/*},${e_rest#*/}," "$out" || return 1
    done
    [ "$(grep -c '^7FF0:' "$out")" = "$(echo $RIG_UIDS | wc -w)" ]
}

kind_checks() {  # kind number, label for the names, the rig it is plugged on, "unbind" for the FTDI kinds
    k=$1; label=$2; rig=$3; unbound=$4
    first=$(echo $RIG_UIDS | cut -d' ' -f1); uid=${first%%/*}; rest=${first#*/}; start=${rest%/*}; footprint=${rest#*/}

    run discover --csv
    check "$label: discover finds every rig device" found_every_device

    run --csv info "$uid"
    check "$label: info gives the rig's start address ($start) and footprint ($footprint)" \
        sh -c "[ $status = 0 ] && grep -q '^start_address,$start\$' $out && grep -q '^footprint,$footprint\$' $out"

    text="QEMU kind $k"
    run set "$uid" device_label "$text"
    if status_is 0; then
        run --csv get "$uid" device_label
        check "$label: set and get: the label reads back" grep -q "^DEVICE_LABEL,label,$text\$" "$out"
    else
        fail "$label: set device_label answered with status $status"
    fi
    address=$((100 + k))
    run address "$uid" "$address"
    if status_is 0; then
        run --csv get "$uid" dmx_start_address
        check "$label: address and get: the start address reads back" \
            grep -q "^DMX_START_ADDRESS,address,$address\$" "$out"
        run address "$uid" "$start"
        check "$label: the start address set back to $start" status_is 0
    else
        fail "$label: address answered with status $status"
    fi

    run dmx "1=10$k" "2=20$k" --period 25 --for 2
    check "$label: dmx sends for 2 s" status_is 0

    # Pulled mid-discovery, once the first device is muted with seven to go: the
    # run ends, well within its time-out, with the interface-failed verdict (exit 6).
    "$cli" $kind_options --fixed-waits --discovery-timeout 60 -v discover > "$out" 2> "$err" &
    pid=$!
    first_muted() { grep -q '^Mute 0x' "$err" || ! kill -0 $pid 2>/dev/null; }
    wait_for first_muted
    if kill -0 $pid 2>/dev/null; then
        t0=$(date +%s)
        echo "@@host unplug"
        wait $pid
        status=$?
        took=$(($(date +%s) - t0))
        check "$label: unplugged mid-discovery: exit 6 in ${took} s, the interface named on stderr" \
            sh -c "[ $status = 6 ] && [ $took -lt 60 ] && grep -q 'the interface stopped working during discovery' $err"
    else
        wait $pid
        status=$?
        echo "@@host unplug"
        fail "$label: discovery ended before the unplug (status $status)"
    fi
    wait_for adapter_gone || fail "$label: the adapter did not leave the bus"

    # Plugged back (and for the FTDI kinds handed over again), a new run finds all.
    if plug "$rig" && { [ -z "$unbound" ] || unbind; }; then
        run discover --csv
        check "$label: replugged, a new run finds every device" found_every_device
    else
        fail "$label: replugged, the adapter did not come back"
    fi
}

plug() {  # plain|widget; waits for ftdi_sio to bind it
    echo "@@host plug $1"
    wait_for tty_present && wait_for adapter_bound
}

echo "@@mark kind0"
if ! wait_for tty_present; then
    fail "boot: no /dev/ttyUSB0 from ftdi_sio"
    echo "@@done $reported"
    exit 0
fi
ok "boot: ftdi_sio made /dev/ttyUSB0 of the emulated FT232"

kind_options="--kind vcp --interface /dev/ttyUSB0"
"$cli" list --csv > "$out" 2> "$err"
check "kind 0: list shows /dev/ttyUSB0" grep -q '^vcp,[0-9]*,ttyUSB0,/dev/ttyUSB0,' "$out"
kind_checks 0 "kind 0" plain

echo "@@mark kind1"
export LD_PRELOAD="$SHIM"
kind_options="--kind talvern --interface 0"
"$cli" list --csv > "$out" 2> "$err"
check "kind 1: bound to ftdi_sio, the device gets no row" sh -c "! grep -q '^talvern,' $out"
unbind
"$cli" list --csv > "$out" 2> "$err"
check "kind 1: after the sysfs unbind it gets a row" grep -q '^talvern,0,' "$out"
kind_checks 1 "kind 1" plain unbind

echo "@@host unplug"
wait_for adapter_gone
echo "@@mark kind2"
plug widget && unbind || fail "kind 2: the widget's adapter did not come"
kind_options="--kind usbpro --interface 0"
"$cli" list --csv > "$out" 2> "$err"
check "kind 2: the unbound adapter gets a row" grep -q '^usbpro,0,' "$out"
kind_checks 2 "kind 2" widget unbind

echo "@@mark end"
echo "@@done $reported"
