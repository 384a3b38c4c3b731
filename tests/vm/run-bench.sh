#!/bin/bash
# The real-driver bench: boots Debian's kernel in a throw-away QEMU guest (TCG) on this machine's
# root (virtio-9p, read-only, with a RAM overlay, so the binaries run there unchanged) and runs the
# checks inside it against real drivers: 16550 UARTs on the 8250 driver (ttyS1 with an echoing far
# end, ttyS2 with a swallowing one, ttyS3 with no UART) and an FTDI adapter on ftdi_sio (ttyUSB0,
# echoing). The guest's /dev/virtio-ports/comtest.monitor is QEMU's monitor (e.g. device_del ftdi0).
#
#   run-bench.sh TEST_BINARY COMTEST_BINARY [gtest options...]
#
# Exit status: the checks'; 77 when QEMU or a kernel is missing (1 under CI=true); 124 timeout.
set -uo pipefail
[ $# -ge 2 ] || { echo "usage: $0 TEST_BINARY COMTEST_BINARY [gtest options...]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
tests=$(readlink -f "$1") comtest=$(readlink -f "$2"); shift 2
[ -x "$tests" ] && [ -x "$comtest" ] || { echo "vm bench: $1 or $2 is not a program" >&2; exit 2; }

skip() {
  echo "vm bench: $* (apt-get install qemu-system-x86 linux-image-amd64 busybox-static cpio kmod udev socat xz-utils)" >&2
  [ "${CI:-}" = true ] && exit 1
  exit 77
}
for tool in qemu-system-x86_64 socat cpio modprobe; do
  command -v $tool >/dev/null || skip "no $tool"
done
[ -x /bin/busybox ] && ! ldd /bin/busybox >/dev/null 2>&1 || skip "no static /bin/busybox"
[ -x /lib/systemd/systemd-udevd ] || skip "no udev"
kver=
for v in $(ls /lib/modules 2>/dev/null | sort -V); do
  [ -r "/boot/vmlinuz-$v" ] && [ -f "/lib/modules/$v/modules.dep" ] && kver=$v
done
[ -n "$kver" ] || skip "no kernel (/boot/vmlinuz-V with /lib/modules/V)"

run=$(mktemp -d /tmp/comtest-vm.XXXXXX)
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
t0=$EPOCHREALTIME
since_start() { awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }'; }

# The initramfs: busybox, /init, the modules that mount the root, and the run's parameters.
mkdir -p "$run/initrd/bin" "$run/initrd/lib/modules" "$run/initrd/dev"
cp /bin/busybox "$run/initrd/bin/"
for a in sh mount mkdir insmod chroot cat poweroff; do ln -s busybox "$run/initrd/bin/$a"; done
modprobe -S "$kver" -a --show-depends virtio_pci 9pnet_virtio 9p overlay | awk '$1 == "insmod" && !seen[$2]++ { print $2 }' |
  while read -r ko; do
    case $ko in *.xz) xz -dc "$ko" ;; *) cat "$ko" ;; esac > "$run/initrd/lib/modules/$(basename "${ko%.xz}")"
    basename "${ko%.xz}" >> "$run/initrd/lib/modules/order"
  done
install -m 755 "$here/init.sh" "$run/initrd/init"
printf '%s\n' "$comtest" "$tests" "$@" > "$run/initrd/params" # one a line: init.sh reads them back
(cd "$run/initrd" && find . | cpio -o -H newc --quiet | gzip -1) > "$run/initrd.gz" || exit 1

# Its uncompressed kernel boots through the PVH entry, sparing the ~5 s that the firmware and the
# bzImage's decompressor take under TCG; without an xz payload the bzImage boots as it is.
kernel=/boot/vmlinuz-$kver
off=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$kernel" | head -1 | cut -d: -f1)
[ -n "$off" ] && tail -c +$((off + 1)) "$kernel" | xz -dc 2>/dev/null > "$run/vmlinux"
[ "$(head -c 4 "$run/vmlinux" 2>/dev/null)" = $'\177ELF' ] && kernel=$run/vmlinux

# Far ends: a pty whose master socat echoes back (PIPE) or swallows; QEMU opens the slave.
farend() { # NAME echo|sink
  if [ "$2" = echo ]; then
    setpriv --pdeathsig TERM socat "PTY,link=$run/$1,rawer,wait-slave" PIPE &
  else
    setpriv --pdeathsig TERM socat -u "PTY,link=$run/$1,rawer,wait-slave" OPEN:/dev/null &
  fi
  pids+=($!)
  local i
  for i in $(seq 100); do [ -e "$run/$1" ] && return 0; sleep 0.1; done
  echo "vm bench: the far end of $1 did not start" >&2; exit 1
}
farend ttyS1 echo; farend ttyS2 sink; farend ttyUSB0 echo

# The monitor and the guest's virtio-serial port are two pipe chardevs whose fifos cross: what the
# guest writes to the port is the monitor's input, and the monitor's answers go back to the port.
mkfifo "$run/mon.in" "$run/mon.out"
ln -s mon.in "$run/port.out"; ln -s mon.out "$run/port.in"

# Far ends and QEMU get SIGTERM should this script die without its traps (e.g. SIGKILL).
mkfifo "$run/console"
setpriv --pdeathsig TERM timeout -k 5 300 qemu-system-x86_64 -machine q35 -accel tcg -cpu max -smp 1 -m 512 \
  -nodefaults -no-user-config -display none -no-reboot -nic none \
  -kernel "$kernel" -initrd "$run/initrd.gz" \
  -append "console=ttyS0,115200 panic=-1 quiet loglevel=1 comtest_vm=1" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -chardev stdio,id=con,signal=off -device isa-serial,chardev=con,index=0 \
  -chardev "serial,id=s1,path=$run/ttyS1" -device isa-serial,chardev=s1,index=1 \
  -chardev "serial,id=s2,path=$run/ttyS2" -device isa-serial,chardev=s2,index=2 \
  -device qemu-xhci,id=xhci -chardev "serial,id=usb0,path=$run/ttyUSB0" \
  -device usb-serial,chardev=usb0,id=ftdi0,bus=xhci.0,serial=VMFTDI01 \
  -chardev "pipe,id=mon,path=$run/mon" -mon chardev=mon,mode=readline \
  -chardev "pipe,id=port,path=$run/port" -device virtio-serial \
  -device virtserialport,chardev=port,name=comtest.monitor \
  < /dev/null > "$run/console" 2> "$run/qemu.err" &
qemu=$!
pids=("$qemu" "${pids[@]}")

# The console: the checks' output passes; markers give the boot time and the exit status.
rc= boot=
while IFS= read -r line; do
  line=${line%$'\r'}
  case $line in
    @@comtest-vm-start@@) boot=$(since_start) ;;
    @@comtest-vm-rc=*) rc=${line#@@comtest-vm-rc=}; rc=${rc%@@} ;;
    *) printf '%s\n' "$line" ;;
  esac
done < "$run/console"
wait "$qemu"; qrc=$?
echo "vm bench: kernel $kver, boot ${boot:-?} s, total $(since_start) s, checks exit ${rc:-none}"
if [ -z "$rc" ]; then
  [ "$qrc" = 124 ] || [ "$qrc" = 137 ] && { echo "vm bench: timed out after 300 s" >&2; exit 124; }
  echo "vm bench: the guest failed (qemu exit $qrc)" >&2; cat "$run/qemu.err" >&2; exit 1
fi
exit "$rc"
