#!/bin/sh
# /init of the bench's initramfs (busybox sh). Puts a RAM overlay over the host's root (9p), starts
# udev, loads the serial drivers, runs the checks in a session whose controlling terminal is the
# console ttyS0 (as a program started from a login shell would be), prints their exit status
# between markers that run-bench.sh reads, and powers off. Stays in the initramfs itself, so the
# power-off never waits on the 9p root.
export PATH=/bin
mkdir -p /proc /sys /lower /rw /root
fail() { echo "vm init: $*"; poweroff -f; }
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in $(cat /lib/modules/order); do insmod "/lib/modules/$m" || fail "insmod $m"; done
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 hostroot /lower || fail "9p root"
mount -t tmpfs -o mode=755 tmpfs /rw
mkdir /rw/upper /rw/work
mount -t overlay -o lowerdir=/lower,upperdir=/rw/upper,workdir=/rw/work overlay /root || fail "overlay"
mount -t proc proc /root/proc
mount -t sysfs sysfs /root/sys
mount -t devtmpfs devtmpfs /root/dev
mkdir -p /root/dev/pts
mount -t devpts -o gid=5,mode=620,ptmxmode=666 devpts /root/dev/pts
mount -t tmpfs -o mode=755 tmpfs /root/run
mkdir -m 1777 /root/run/lock

in_root() { chroot /root /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
in_root /lib/systemd/systemd-udevd --daemon 2>/dev/null
in_root modprobe -a xhci_pci ftdi_sio virtio_console
# udev links the adapter and the monitor port once the drivers have found them
in_root timeout 60 sh -c 'until [ -e /dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_VMFTDI01-if00-port0 ] &&
  [ -e /dev/virtio-ports/comtest.monitor ]; do sleep 0.1; done' || fail "no ttyUSB0 or monitor port"

{ read -r COMTEST_BINARY; set --; while read -r arg; do set -- "$@" "$arg"; done; } < /params
echo "@@comtest-vm-start@@"
in_root COMTEST_BINARY="$COMTEST_BINARY" QT_QPA_PLATFORM=offscreen setsid -c -w "$@" <>/root/dev/ttyS0 >&0 2>&0
echo "@@comtest-vm-rc=$?@@"
poweroff -f
