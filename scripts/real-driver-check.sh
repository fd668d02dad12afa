#!/usr/bin/env bash
# The real-driver check: Debian's own kernel boots under QEMU (TCG, no KVM needed)
# with an emulated FTDI FT232 whose far side is vantrell-rig on a pseudo-terminal.
# Inside the guest the real ftdi_sio, libusb and libftdi carry vantrell-cli with
# each interface kind; the QEMU monitor unplugs and replugs the adapter.
# Prints one line per check; exits 1 when any fails.
#
#   scripts/real-driver-check.sh            (BUILD_DIR=build, REAL_DRIVER_TIMEOUT=480 s)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath -m "${BUILD_DIR:-build}")
deadline_s=${REAL_DRIVER_TIMEOUT:-480}
rig_devices=8

packages=(qemu-system-x86 linux-image-amd64 busybox-static xz-utils gcc pkg-config libusb-1.0-0-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
[ -x "$build/vantrell-cli" ] && [ -x "$build/vantrell-rig" ] || scripts/build.sh

work=$(mktemp -d /tmp/vantrell-real-driver.XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
started=$(date +%s)

# --- The kernel: the newest one installed that has its modules, uncompressed, so
# that QEMU boots it through its PVH entry instead of unpacking it under TCG.
kernel=""
for k in $(ls -v /boot/vmlinuz-* 2>/dev/null | tac); do
    v=${k#/boot/vmlinuz-}
    [ -f "/lib/modules/$v/modules.dep" ] && { kernel=$k; version=$v; break; }
done
[ -n "$kernel" ] || { echo "FAIL boot: no kernel with modules in /boot (package linux-image-amd64)"; exit 1; }
offset=$(LC_ALL=C grep -obUaP '\xfd\x37\x7a\x58\x5a\x00' "$kernel" | head -1 | cut -d: -f1)
[ -n "$offset" ] || { echo "FAIL boot: $kernel holds no xz-packed kernel"; exit 1; }
# xz stops at the end of its stream, and tail then dies of a closed pipe.
tail -c +$((offset + 1)) "$kernel" | xz -dc --single-stream > "$work/vmlinux" 2>/dev/null || true
[ "$(head -c 4 "$work/vmlinux" | od -An -c | tr -d ' ')" = '177ELF' ] ||
    { echo "FAIL boot: could not unpack $kernel"; exit 1; }

# --- The initramfs: busybox, the drivers in load order, the init, the shim.
moddir=/lib/modules/$version
declare -A loaded
order=()
add_module() {  # a module's path under $moddir, after everything it needs
    local path=$1 dep
    [ -n "${loaded[$path]:-}" ] && return
    loaded[$path]=1
    for dep in $(grep -m1 "^$path:" "$moddir/modules.dep" | cut -d: -f2); do add_module "$dep"; done
    order+=("$path")
}
for name in virtio_pci 9pnet_virtio 9p xhci-pci ftdi_sio; do
    path=$(grep -m1 -E "(^|/)$name\.ko:" "$moddir/modules.dep" | cut -d: -f1)
    [ -n "$path" ] || { echo "FAIL boot: module $name not in $moddir"; exit 1; }
    add_module "$path"
done
initrd=$work/initrd
mkdir -p "$initrd"/{bin,modules,proc,sys,dev}
cp /bin/busybox "$initrd/bin/busybox"
cp "$root/scripts/real-driver/guest-init.sh" "$initrd/init"
for path in "${order[@]}"; do
    cp "$moddir/$path" "$initrd/modules/"
    basename "$path" >> "$initrd/modules.list"
done
cc -shared -fPIC -O2 -Wall -Wextra -o "$initrd/shim.so" "$root/scripts/real-driver/empty-read-shim.c" \
    $(pkg-config --cflags libusb-1.0) -ldl

# --- Two rigs: one that carries the line's bytes (kinds 0 and 1), one that speaks
# as the USB Pro widget (kind 2). Each logs its requests, replies and DMX levels.
# The rigs' runtime folder, as a login session's would be: there and this user's.
mkdir -m 0700 "$work/run"
start_rig() {  # name, extra options; sets $pty to the pseudo-terminal's path
    local name=$1; shift
    XDG_RUNTIME_DIR=$work/run "$build/vantrell-rig" --devices "$rig_devices" --name "$name" "$@" \
        > "$work/rig-$name.log" 2>&1 &
    pids+=($!)
    pty=""
    for _ in $(seq 100); do
        pty=$(sed -n 's/^line "[^"]*": .* -> \(\/dev\/pts\/[0-9]*\) (.*/\1/p' "$work/rig-$name.log")
        [ -n "$pty" ] && return
        sleep 0.1
    done
    echo "FAIL rig $name did not start: $(cat "$work/rig-$name.log")"
    exit 1
}
start_rig plain
plain_pty=$pty
start_rig widget --widget
widget_pty=$pty
uids=$(sed -n 's/^  \([0-9A-F]\{4\}:[0-9A-F]\{8\}\) .* start *\([0-9]*\) *footprint *\([0-9]*\) .*/\1\/\2\/\3/p' \
       "$work/rig-plain.log" | tr '\n' ' ')

cat > "$initrd/params" <<EOF
BUILD='$build'
CHECKS='$root/scripts/real-driver/guest-checks.sh'
RIG_UIDS='$uids'
EOF
(cd "$initrd" && find . | busybox cpio -o -H newc 2>/dev/null) > "$work/initrd.cpio"

# --- The guest. ttyS0 carries the kernel's console, ttyS1 the checks' talk: their
# results and their requests to the monitor ("@@host ...").
mkfifo "$work/monitor.in" "$work/monitor.out"
: > "$work/talk.log"
qemu-system-x86_64 -nodefaults -no-user-config -no-reboot \
    -machine q35,accel=tcg -cpu max -m 1024 -smp 1 -display none \
    -kernel "$work/vmlinux" -initrd "$work/initrd.cpio" -append "console=ttyS0 quiet panic=-1 rdinit=/init" \
    -serial "file:$work/console.log" -serial "file:$work/talk.log" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -device qemu-xhci,id=xhci \
    -chardev "serial,id=plain,path=$plain_pty" -chardev "serial,id=widget,path=$widget_pty" \
    -device usb-serial,bus=xhci.0,chardev=plain,id=ft \
    -chardev "pipe,id=monitor,path=$work/monitor" -mon chardev=monitor,mode=readline \
    -trace usb_serial_handle_control -trace usb_serial_set_baud -D "$work/trace.log" \
    > "$work/qemu.log" 2>&1 &
qemu=$!
pids+=($qemu)
exec {monitor}<>"$work/monitor.in"
cat "$work/monitor.out" > "$work/monitor.log" &
pids+=($!)
monitor() { echo "$*" >&$monitor; }

# What QEMU traced between two of the guest's marks: the controller's breaks reach
# the chip as SET_DATA requests (0x4004) with bit 14 set, which the model ignores;
# the baud rate as the model decodes it.
traced() {  # first mark, second mark, pattern
    awk -v from="${marks[$1]}" -v to="${marks[$2]}" 'NR > from && NR <= to' "$work/trace.log" | grep -cE "$3" || true
}
break_pattern='control 0x4004, value 0x[4-7c-f][0-9a-f]{3}$'

exec {talk}< <(tail -n +1 -f "$work/talk.log")
pids+=($!)
failures=0
checks=0
elapsed() { echo "$(($(date +%s) - started)) s"; }
declare -A marks
finished=""
pending=""
guest_checks=0
while [ -z "$finished" ]; do
    left=$((started + deadline_s - $(date +%s)))
    if [ "$left" -le 0 ] || ! kill -0 "$qemu" 2>/dev/null; then break; fi
    # A read that times out part-way keeps what it got: the rest of the line follows.
    if ! IFS= read -r -t 1 chunk <&"$talk"; then pending+=$chunk; continue; fi
    line=$pending$chunk
    pending=""
    line=${line%$'\r'}
    case "$line" in
        "@@host unplug") monitor "device_del ft" ;;
        "@@host plug "*) monitor "device_add usb-serial,bus=xhci.0,chardev=${line#@@host plug },id=ft" ;;
        "@@mark "*) marks[${line#@@mark }]=$(wc -l < "$work/trace.log") ;;
        "@@check "*) guest_checks=$((guest_checks + 1)) ;;&
        "@@check ok boot"*) checks=$((checks + 1)); echo "ok   ${line#@@check ok } (the guest's checks began $(elapsed) after the start)" ;;
        "@@check ok "*) checks=$((checks + 1)); echo "ok   ${line#@@check ok }" ;;
        "@@check FAIL "*) checks=$((checks + 1)); failures=$((failures + 1)); echo "FAIL ${line#@@check FAIL }" ;;
        "@@done "*) finished=1; guest_reported=${line#@@done } ;;
        "  | "*) echo "$line" ;;
    esac
done
if [ -z "$finished" ]; then
    failures=$((failures + 1))
    echo "FAIL the guest did not finish its checks within ${deadline_s} s; its console's end:"
    tail -n 15 "$work/console.log" | sed 's/^/  | /'
    [ -s "$work/qemu.log" ] && { echo "  QEMU said:"; tail -n 5 "$work/qemu.log" | sed 's/^/  | /'; }
fi
if [ -n "$finished" ] && [ "$guest_checks" != "$guest_reported" ]; then
    failures=$((failures + 1))
    echo "FAIL the guest reported $guest_reported checks, $guest_checks reached the host"
fi
for _ in $(seq 100); do kill -0 "$qemu" 2>/dev/null || break; sleep 0.1; done

# --- What the rigs and QEMU saw. Each kind sent its own levels: 1=10K 2=20K.
result() {  # name, condition
    checks=$((checks + 1))
    if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
if [ -n "$finished" ]; then
    # Each kind: its rig, the marks around its checks, who makes the line's breaks.
    for plan in "0 plain kind0 kind1 controller" "1 plain kind1 kind2 controller" "2 widget kind2 end widget"; do
        set -- $plan
        kind=$1
        result "kind $kind: DMX frames with its levels (1=10$kind 2=20$kind) reached the rig" \
            "grep -q 'DMX: [0-9]* slots, 1=10$kind 2=20$kind\$' '$work/rig-$2.log'"
        breaks=$(traced "$3" "$4" "$break_pattern")
        case $5 in
            controller)
                bauds=$(traced "$3" "$4" 'baud rate 250000$')
                result "kind $kind: the controller's breaks reached the chip as SET_DATA requests ($breaks)" \
                    "[ $breaks -gt 0 ]"
                result "kind $kind: the chip was set to 250000 baud ($bauds times)" "[ $bauds -gt 0 ]" ;;
            widget)
                result "kind $kind: no break requests, the widget makes its own breaks ($breaks)" "[ $breaks -eq 0 ]" ;;
        esac
    done
fi
echo "real-driver check: $checks checks, $failures failed, $(elapsed)"
[ "$failures" -eq 0 ]
