#!/bin/sh
# /init of the bench's initramfs (busybox sh): a RAM overlay on the host's root (9p), udev, the serial
# drivers, then the checks with the console ttyS0 as their controlling terminal, their exit status for
# run-bench.sh, and power-off (from the initramfs, so that it never waits on the 9p root).
export PATH=/bin
fail() { echo "vm init: $*"; poweroff -f; }
mkdir -p /proc /sys /lower /rw /root && mount -t proc proc /proc && mount -t sysfs sysfs /sys && mount -t devtmpfs devtmpfs /dev
for m in $(cat /lib/modules/order); do insmod "/lib/modules/$m" || fail "insmod $m"; done
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 hostroot /lower || fail "9p root"
mount -t tmpfs -o mode=755 tmpfs /rw && mkdir /rw/upper /rw/work
mount -t overlay -o lowerdir=/lower,upperdir=/rw/upper,workdir=/rw/work overlay /root || fail "overlay"
mount -t proc proc /root/proc && mount -t sysfs sysfs /root/sys && mount -t devtmpfs devtmpfs /root/dev
mkdir -p /root/dev/pts && mount -t devpts -o gid=5,mode=620,ptmxmode=666 devpts /root/dev/pts
mount -t tmpfs -o mode=755 tmpfs /root/run && mkdir -m 1777 /root/run/lock
in_root() { chroot /root /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
in_root /lib/systemd/systemd-udevd --daemon 2>/dev/null
in_root modprobe -a xhci_pci ftdi_sio virtio_console
in_root timeout 60 sh -c 'until [ -e /dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_VMFTDI01-if00-port0 ] &&
  [ -e /dev/virtio-ports/comtest.monitor ]; do sleep 0.1; done' || fail "udev made no ttyUSB0 or monitor port"
{ read -r COMTEST_BINARY; set --; while read -r arg; do set -- "$@" "$arg"; done; } < /params
in_root COMTEST_BINARY="$COMTEST_BINARY" QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$(in_root mktemp -d) \
  setsid -c -w "$@" <>/root/dev/ttyS0 >&0 2>&0
echo "@@comtest-vm-rc=$?@@"
poweroff -f
