// The serial port layer: everything the program knows of a tty, in its own terms.
//
// Principles of operation
//   A port is a tty device opened exclusively for reading and writing. The open never blocks, never
//   makes the port our controlling terminal, and is not inherited by children; the descriptor stays
//   non-blocking, so that a read takes only what is waiting and a write waits against its deadline.
//   "Exclusive" means: a port that another process (or this one) holds is refused, whether it holds
//   the device's own locks (as picocom, tio and GtkTerm do) or a live lock file naming it (as
//   minicom and Qt terminals do; see LockFiles.h). A stale lock file is removed on the way. While
//   we hold a port we hold both kinds, so that each of those programs refuses it in turn; a process
//   that merely has the device open, without a lock, does not hold it. A TIOCEXCL that another
//   process set holds the port too, also against root, whom the kernel lets through it.
//   The system console and any session's controlling terminal are recognised before the open and
//   never opened: our locks would stay on a terminal that others use, and a termios call on our own
//   terminal from a background process group would stop us on SIGTTOU.
//   Nothing of ours outlives our hold on a port: flock, TIOCEXCL and lock file go at the close; a
//   TIOCEXCL we did not set is never touched. The line settings we applied stay, as with any tool.
//   A PortHandle is a descriptor of 3 or more, so that 0 can stand for "never opened" and -1 for
//   "no port after a failure or a close"; isPort() tells the two apart from a real port.
//   applyLineSettings does a read-modify-write: it reads what the port has now, changes speed,
//   parity, data bits and stop bits (each field whole), keeps flow control, CLOCAL, HUPCL and the
//   parity-check flag as the port reported them, makes the line raw, writes the result and reads it
//   back. Whatever the driver did not take as asked is a refusal. A pseudo-terminal always reports
//   8 data bits and parity generation off; that is what a pty does, and is not counted against it.
//   Opening a port purges nothing; it only ends a UART loop mode that a killed run left on a port
//   that nobody else has open (ModemLines.h). Closing it leaves a reopen empty: a real port's last
//   close discards its input in the kernel, and a pty's is discarded by us, but only when no other
//   process has the device open: their bytes are theirs.
//   A vanished device (USB unplug, a pty whose far end closed) reads as "no bytes waiting"; no call
//   here blocks without bound or spins. lineState tells a vanished device (hung up, its node gone
//   or another device now) from a hang-up of a node that is still there (carrier lost).
//   A driver may take a setting that its hardware does not run: a 16550 runs the rate its divisor
//   of the base clock gives, and ftdi_sio falls back silently for some values. Where the driver
//   tells enough to know, such a setting is refused like one the driver changed (DriverLimits.h).
//
// Interface summary
//   isPort              whether a handle holds a port
//   openPortExclusive   open a port by name ("COM1", through its --port mapping or COM name)
//   openDeviceExclusive open a device path exclusively
//   applyLineSettings   set speed, parity, data bits, stop bits; read back; true when taken
//   readLineSettings    what the port has now, in the program's codes
//   lineState           up, vanished, or hung up with its node still there
//   bytesWaiting        count of received bytes not yet read (0 on any failure)
//   waitForInput        wait, up to a deadline, until bytes are waiting
//   readBytes           read up to n bytes that are already waiting
//   discardInput        throw away the input queue only
//   writeAll            write every byte, giving up after the time the line speed needs plus ~1 s
//   writeSome           write what the driver takes now, without waiting
//   waitForPorts        wait, up to a deadline, until one of several ports can be read or written
//   closePort           discard unread input (unless kept or shared), remove our lock file,
//                       release our locks, close
//   The modem lines and the UART's loop mode of an open port are in ModemLines.h. LineBits.h,
//   Termios2.h and DriverLimits.h are this layer's own helpers, used by nobody else.
#pragma once

#include "platform/tty/LineSettings.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using PortHandle = int;
inline constexpr PortHandle kNeverOpened = 0;
inline constexpr PortHandle kInvalidPort = -1;
inline bool isPort(PortHandle h)
{
    return h > 2;
}

// Why an open failed, for the headless commands that name the cause.
enum class OpenFailure {
    None,
    NoSuchPort,
    NotATty,
    PermissionDenied,
    Busy,
    SystemConsole,
    ControllingTerminal,
    NoUart, // a tty node whose termios calls fail with EIO: the 8250 driver's node without a chip
    Other
};

struct OpenResult {
    PortHandle handle = kInvalidPort;
    OpenFailure failure = OpenFailure::None;
    std::string device; // the device path the name resolved to, when it resolved
    int session = 0; // for ControllingTerminal: the leader of the session whose terminal it is
};

// What a close does with input that nobody has read yet.
enum class UnreadInput {
    DiscardIfOnlyOurs, // discard it unless another process has the device open
    Keep, // leave it (a check that only tried the open)
};

// Opens a port exclusively. A name that is "COM" and a number stands for the device that its --port
// mapping or its COM name (ComNames.h, looked up now) gives; any other name opens nothing (NoSuchPort). Paths
// are accepted only through openDeviceExclusive. On failure nothing is left open or locked.
OpenResult openPortExclusive(const std::string& portName);

// Opens a device path exclusively (used for mapped names and by the headless commands). A live
// lock file naming the device (by any of its names) refuses it as Busy. On failure nothing is left
// open or locked and no lock file of ours is left; only stale lock files may have been removed.
OpenResult openDeviceExclusive(const std::string& devicePath);

// Applies the line settings. Returns false when the current settings cannot be read, when a value
// has no termios form (stop-bit code 1, parity code > 4, data bits outside 5-8, speed 0), when
// the driver refused or changed it, or when the hardware would run something else (then
// hardwareReason, when given, says what). On failure the port may hold partly applied settings;
// callers close it.
bool applyLineSettings(PortHandle port, const LineSettings& settings, std::string* hardwareReason = nullptr);

enum class LineState { Up, Vanished, CarrierLost };

// Whether the port is still there. Vanished: hung up or failing with EIO, and its node is gone or
// stands for another device now. CarrierLost: hung up while its node is still the same device.
LineState lineState(PortHandle port);

// Reads back what the port really has now, in the program's codes; false when it cannot be read.
// isPseudoTerminal is set when the port is a pty (whose size and parity read back as forced).
bool readLineSettings(PortHandle port, LineSettings& out, bool* isPseudoTerminal = nullptr);

// Count of bytes received and not yet read; 0 when the port is gone or the count cannot be had.
int bytesWaiting(PortHandle port);

// Reads up to count bytes that are already waiting; returns the number read (0 on failure).
int readBytes(PortHandle port, uint8_t* into, int count);

// True as soon as bytes are waiting to be read; false once the deadline has passed, or at once when
// the device is gone (hung up) or the handle is no port. Reads nothing, never spins.
bool waitForInput(PortHandle port, std::chrono::steady_clock::time_point deadline);

// Throws away the input queue; the output queue is left alone.
void discardInput(PortHandle port);

// Writes all bytes, giving up (unreported) once the time the bytes need at the port's speed plus
// about a second has passed. Returns the number of bytes the driver took.
size_t writeAll(PortHandle port, const uint8_t* bytes, size_t count);

// Writes what the driver takes at once, without waiting; returns the number of bytes taken (0 when
// its queue is full or the device is gone).
size_t writeSome(PortHandle port, const uint8_t* bytes, size_t count);

// One port of waitForPorts: asked whether it can be written too, told what it can do now.
struct PortWait {
    PortHandle port = kInvalidPort;
    bool wantWrite = false;
    bool readable = false;
    bool writable = false;
    bool hungUp = false; // hung up or failing: lineState tells how
};

// Waits until one of the ports has input, takes output (where wanted) or hung up, or the deadline
// passes, or a signal comes; then sets what each can do (all false after the deadline or a signal).
void waitForPorts(PortWait* ports, size_t count, std::chrono::steady_clock::time_point deadline);

// Whether the process's standard error is a terminal (progress lines go only there).
bool standardErrorIsTerminal();

// Discards unread input as told, removes our lock file, releases our locks and closes. Does nothing
// for a non-port handle. A port still held at process exit keeps its device open until the exit,
// but its lock file is removed by then.
void closePort(PortHandle port, UnreadInput unread = UnreadInput::DiscardIfOnlyOurs);

} // namespace platform
