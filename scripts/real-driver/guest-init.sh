#!/bin/busybox sh
# The initramfs's /init in the real-driver check's guest: loads the drivers,
# mounts the host's filesystem read-only over 9p and runs the checks in it.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
. /params
for m in $(cat /modules.list); do
    insmod "/modules/$m" || echo "@@check FAIL boot: insmod $m" > /dev/ttyS1
done
mkdir -p /host
if ! mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=262144 hostroot /host; then
    echo "@@check FAIL boot: the host's filesystem could not be mounted" > /dev/ttyS1
    poweroff -f
fi
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -t devtmpfs devtmpfs /host/dev
mount -t tmpfs tmpfs /host/tmp
mount -t tmpfs tmpfs /host/run
cp /shim.so /host/tmp/shim.so
chroot /host /usr/bin/env -i PATH=/usr/bin:/bin:/usr/sbin:/sbin HOME=/tmp/home XDG_CONFIG_HOME=/tmp/config \
    XDG_RUNTIME_DIR=/run/user BUILD="$BUILD" RIG_UIDS="$RIG_UIDS" \
    /bin/sh "$CHECKS" < /dev/null > /dev/ttyS1 2>&1
sync
poweroff -f
