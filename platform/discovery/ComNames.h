// COM names that stay with their devices: every serial device of the machine has a name COMn
// without any command line, and keeps it on every plug, in every program run.
//
// Principles of operation
//   /dev/ttyS<n-1> is COMn where a UART is behind it, so that machines with UARTs keep their
//   names; such a UART needs no record. Every other device is known by who it is: its USB serial
//   number with its interface (its /dev/serial/by-id name), else by where it is plugged (its
//   /dev/serial/by-path name), else by its kernel name. Two present devices with the same USB id,
//   serial number and interface (clones) are both known by where they are plugged.
//   The names given are recorded in <config>/comtest/ports, one line per name: "COMn KIND NAME",
//   KIND being by-id, by-path or tty; a line that starts with "#" is a comment. A record stands
//   until its line is deleted: its number goes to no other device, also while its device is gone or
//   when a UART appears behind its ttyS node (that UART then counts as a new device). A device seen
//   for the first time takes the lowest number that no record holds and whose ttyS node has no
//   UART. New records are added under the file's lock after reading it again (SharedTextFile.h), so
//   two processes naming devices at once agree. A file that cannot be read or has a line that
//   cannot be parsed is never written: the lines that parse still stand, new names hold for this
//   run only, and the table says why. The same holds when there is no folder to write (no home).
//   Nothing is opened, and nothing here fails; lookups are made when needed, never at start-up.
//
// Interface summary
//   lookUpComNames     every name that stands for a device, present or recorded, from given roots
//   systemComNames     the same from the real trees and the user's folder; its warning once on stderr
//   deviceForPortName  the device a port name stands for now: its --port mapping, else its COM name,
//                      else /dev/ttyS<n-1>
//   comNameOfDevice    the name of a device in a table, --port mappings first
//   presentComNumbers  the numbers that stand for a device present now, mapped ones included
#pragma once

#include "platform/discovery/DeviceInventory.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct NameRoots {
    InventoryRoots tree;
    std::string configFolder; // holds comtest/ports; "" when there is none
};

// The real trees, and $XDG_CONFIG_HOME, else ~/.config, else "".
NameRoots systemNameRoots();

struct NamedDevice {
    std::string device; // the node of a present device; for a record of an absent one, where it would be
    bool present = false;
};

struct ComNameTable {
    std::map<unsigned, NamedDevice> names; // by COM number
    std::string warning; // why names given now hold for this run only; "" when all are kept
};

// Names every present device, recording the new names when the file allows.
ComNameTable lookUpComNames(const NameRoots& roots);

// lookUpComNames(systemNameRoots()); the first warning of the process goes to stderr.
ComNameTable systemComNames();

// A port name that is not COM and a number stands for no device.
std::optional<std::string> deviceForPortName(const std::string& portName);

// "COM3" when a --port mapping or a present entry of the table stands for device; "" when none does.
std::string comNameOfDevice(const std::string& device, const ComNameTable& table);

std::vector<unsigned> presentComNumbers(const ComNameTable& table);

} // namespace platform
