// The serial devices of the machine, as /sys and /dev describe them, found without opening any.
//
// Principles of operation
//   A tty under <sys>/class/tty is a serial device when it has a "device" link; a ttyS one only
//   when its "type" is not 0 too, since the 8250 driver makes ttyS nodes for UARTs that are not
//   there. Virtual consoles, ptmx and pseudo-terminals have no device link and are left out.
//   The driver is the first one bound on the way from the tty's device up to the root, passing
//   over the serial core's own "port" and "ctrl" devices. The USB vendor:product and serial
//   number come from the first USB device on that way, the interface (and the port within it, for
//   adapters with several) from the USB interface and port below it. The stable names are the
//   links under <dev>/serial/by-id and <dev>/serial/by-path that resolve to the device node.
//   A device named by path (a pty given with --port) is described the same way through
//   <sys>/dev/char/MAJOR:MINOR; a pseudo-terminal has no entry there and gets the driver "pty".
//   Such a ttyS node without a UART is described only when asked for by path, and says so.
//   Every field that cannot be found is empty; nothing here fails.
//
// Interface summary
//   serialDevices    every serial device, in natural name order (ttyS2 before ttyS10)
//   describeDevice   what is known of one device path
//   sameDevice       whether two paths stand for the same device node
//   isPseudoTerminalMajor  whether a device major number is a pseudo-terminal's
#pragma once

#include <string>
#include <vector>

namespace platform {

struct SerialDeviceInfo {
    std::string device; // "/dev/ttyUSB0"
    std::string driver; // "ftdi_sio", "serial", "pty"; "" when unknown
    std::string usbId; // "0403:6001"; "" when not on USB
    std::string serial; // the USB serial number; "" when none
    std::string byId; // "/dev/serial/by-id/usb-..."; "" when none
    std::string byPath; // "/dev/serial/by-path/pci-...-usb-0:2:1.0-port0"; "" when none
    std::string usbInterface; // "00" (cdc_acm), "00 port 0" (a usb-serial port); "" when none
    bool noUart = false; // an 8250 node whose UART type is unknown: nothing answers behind it
};

// Where the two trees are: the real ones unless a test builds its own.
struct InventoryRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
};

std::vector<SerialDeviceInfo> serialDevices(const InventoryRoots& roots = {});

SerialDeviceInfo describeDevice(const std::string& devicePath, const InventoryRoots& roots = {});

// Whether a character device major number is a pseudo-terminal's (/dev/pts/N).
bool isPseudoTerminalMajor(unsigned deviceMajor);

// True when both paths exist and are the same character device (by device number), or resolve to
// the same file; "/dev/serial/by-id/usb-..." and "/dev/ttyUSB0" are one device.
bool sameDevice(const std::string& a, const std::string& b);

} // namespace platform
