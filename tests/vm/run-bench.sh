#!/bin/bash
# run-bench.sh TEST_BINARY COMTEST_BINARY [gtest options]: boots Debian's kernel in a throw-away QEMU
# guest (TCG) on this machine's root (9p, read-only, under a RAM overlay) with 16550 UARTs and an FTDI
# adapter, and runs the checks there. Exit status: theirs; 77 without QEMU or a kernel (1 if CI=true).
set -uo pipefail
tests=$(readlink -f "${1:-}") comtest=$(readlink -f "${2:-}") here=$(cd "$(dirname "$0")" && pwd)
[ -x "$tests" ] && [ -x "$comtest" ] || { echo "usage: $0 TEST_BINARY COMTEST_BINARY [gtest options]" >&2; exit 2; }
shift 2
skip() { echo "vm bench: $* (apt-get install qemu-system-x86 linux-image-amd64 busybox-static cpio kmod udev" \
  "socat xz-utils)" >&2; [ "${CI:-}" = true ] && exit 1 || exit 77; }
for tool in qemu-system-x86_64 socat cpio modprobe xz /lib/systemd/systemd-udevd; do command -v $tool >/dev/null || skip "no $tool"; done
[ -x /bin/busybox ] && ! ldd /bin/busybox >/dev/null 2>&1 || skip "no static /bin/busybox"
kver=$(ls /lib/modules 2>/dev/null | sort -V | tail -1)
[ -r /boot/vmlinuz-$kver ] && [ -f /lib/modules/$kver/modules.dep ] || skip "no kernel (/boot/vmlinuz-V, /lib/modules/V)"

run=$(mktemp -d /tmp/comtest-vm.XXXXXX) pids=() t0=$SECONDS rc=
cleanup() { for p in "${pids[@]}"; do kill $p 2>/dev/null; done; wait; rm -rf $run; }
trap cleanup EXIT; trap 'exit 130' INT TERM HUP

# The initramfs: busybox, /init, the modules that mount the root, and the run's parameters.
mkdir -p $run/initrd/bin $run/initrd/lib/modules $run/initrd/dev && cp /bin/busybox $run/initrd/bin/
for a in sh mount mkdir insmod chroot cat poweroff; do ln -s busybox $run/initrd/bin/$a; done
modprobe -S $kver -a --show-depends virtio_pci 9pnet_virtio 9p overlay |
  awk '$1 == "insmod" && !seen[$2]++ { print $2 }' | while read -r ko; do
    m=$(basename "${ko%.xz}") && echo $m >> $run/initrd/lib/modules/order
    case $ko in *.xz) xz -dc "$ko" ;; *) cat "$ko" ;; esac > $run/initrd/lib/modules/$m
  done
install -m 755 "$here/init.sh" $run/initrd/init
printf '%s\n' "$comtest" "$tests" "$@" > $run/initrd/params # one a line: init.sh reads them back
(cd $run/initrd && find . | cpio -o -H newc --quiet | gzip -1) > $run/initrd.gz || exit 1

# The bzImage's xz payload boots through PVH, sparing the ~5 s of firmware and decompressor under TCG.
kernel=/boot/vmlinuz-$kver off=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' /boot/vmlinuz-$kver | head -1 | cut -d: -f1)
[ -n "$off" ] && tail -c +$((off + 1)) $kernel | xz -dc 2>/dev/null > $run/vmlinux
[ "$(head -c 4 $run/vmlinux 2>/dev/null)" = $'\177ELF' ] && kernel=$run/vmlinux

# Far ends: socat on a pty echoes (PIPE) or swallows; QEMU opens the slave. The guest's virtio port
# comtest.monitor is QEMU's monitor: their pipe chardevs cross their fifos. The far ends and QEMU get
# SIGTERM should this script die without its traps (e.g. SIGKILL).
farend() { setpriv --pdeathsig TERM socat ${3:-} PTY,link=$run/$1,rawer,wait-slave $2 & pids+=($!); }
farend ttyS1 PIPE; farend ttyS2 OPEN:/dev/null -u; farend ttyUSB0 PIPE
# A null-modem between ttyS4 and ttyS5: both ptys are made before socat waits for the second's slave.
setpriv --pdeathsig TERM socat PTY,link=$run/ttyS4,rawer PTY,link=$run/ttyS5,rawer,wait-slave & pids+=($!)
mkfifo $run/mon.in $run/mon.out $run/console && ln -s mon.in $run/port.out && ln -s mon.out $run/port.in
timeout 10 sh -c "until [ -e $run/ttyS1 ] && [ -e $run/ttyS2 ] && [ -e $run/ttyS4 ] && [ -e $run/ttyS5 ] && [ -e $run/ttyUSB0 ]; do sleep 0.1; done" ||
  { echo "vm bench: the far ends did not start" >&2; exit 1; }
setpriv --pdeathsig TERM timeout -k 5 300 qemu-system-x86_64 -machine q35 -accel tcg -cpu max -smp 1 -m 512 \
  -nodefaults -no-user-config -display none -no-reboot -nic none -kernel $kernel -initrd $run/initrd.gz \
  -append "console=ttyS0,115200 panic=-1 quiet loglevel=1 8250.nr_uarts=8 comtest_vm=1" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -chardev stdio,id=con,signal=off -device isa-serial,chardev=con,index=0 \
  -chardev serial,id=s1,path=$run/ttyS1 -device isa-serial,chardev=s1,index=1 \
  -chardev serial,id=s2,path=$run/ttyS2 -device isa-serial,chardev=s2,index=2 \
  -chardev serial,id=s4,path=$run/ttyS4 -chardev serial,id=s5,path=$run/ttyS5 -device pci-serial-2x,chardev1=s4,chardev2=s5 \
  -device qemu-xhci,id=xhci -chardev serial,id=usb0,path=$run/ttyUSB0 \
  -device usb-serial,chardev=usb0,id=ftdi0,bus=xhci.0,serial=VMFTDI01 \
  -chardev pipe,id=mon,path=$run/mon -mon chardev=mon,mode=readline \
  -chardev pipe,id=port,path=$run/port -device virtio-serial -device virtserialport,chardev=port,name=comtest.monitor \
  < /dev/null > $run/console 2> $run/qemu.err &
pids=($! "${pids[@]}")

while IFS= read -r line; do # the checks' output, then their exit status in a marker
  line=${line%$'\r'}; [[ $line == @@comtest-vm-rc=*@@ ]] && rc=${line//[^0-9]/} || printf '%s\n' "$line"
done < $run/console
wait ${pids[0]}; qrc=$?
echo "vm bench: kernel $kver, $((SECONDS - t0)) s, checks exit ${rc:-none}"
[ -n "$rc" ] && exit $rc
[ $qrc = 124 ] || [ $qrc = 137 ] && { echo "vm bench: timed out after 300 s" >&2; exit 124; }
echo "vm bench: the guest failed (qemu exit $qrc)" >&2; cat $run/qemu.err >&2; exit 1
