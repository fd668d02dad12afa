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
# The guest writes only under /run: the checkout itself may lie under /tmp.
mount -t tmpfs tmpfs /host/run
mkdir -p /host/run/vantrell-check/tmp
mkdir -m 0700 /host/run/vantrell-check/runtime
cp /shim.so /host/run/vantrell-check/shim.so
if [ ! -f "/host$CHECKS" ] || [ ! -x "/host$BUILD/vantrell-cli" ]; then
    echo "@@check FAIL boot: $CHECKS or $BUILD/vantrell-cli is not in the host's filesystem" > /dev/ttyS1
fi
scratch=/run/vantrell-check
chroot /host /usr/bin/env -i PATH=/usr/bin:/bin:/usr/sbin:/sbin HOME=$scratch/home TMPDIR=$scratch/tmp \
    XDG_CONFIG_HOME=$scratch/config XDG_RUNTIME_DIR=$scratch/runtime SHIM=$scratch/shim.so \
    BUILD="$BUILD" RIG_UIDS="$RIG_UIDS" /bin/sh "$CHECKS" < /dev/null > /dev/ttyS1 2>&1 ||
    echo "@@check FAIL boot: the checks ended with status $?" > /dev/ttyS1
sync
poweroff -f
