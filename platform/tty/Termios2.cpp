// The one file that includes the kernel's termios2 header: it clashes with <termios.h>.
#include "platform/tty/Termios2.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <bit>
#include <cstddef>

namespace platform {

static_assert(BOTHER == kSpeedInField && IBSHIFT == kInputSpeedShift && NCCS == kControlChars);
// LineBits mirrors termios2 field by field, so that each converts to the other as it stands.
static_assert(sizeof(LineBits) == sizeof(termios2) && offsetof(LineBits, line) == offsetof(termios2, c_line)
    && offsetof(LineBits, cc) == offsetof(termios2, c_cc)
    && offsetof(LineBits, ispeed) == offsetof(termios2, c_ispeed));

bool readLineBits(int fd, LineBits& out)
{
    termios2 raw {};
    if (ioctl(fd, TCGETS2, &raw) != 0)
        return false;
    out = std::bit_cast<LineBits>(raw);
    return true;
}

bool writeLineBits(int fd, const LineBits& bits)
{
    const termios2 raw = std::bit_cast<termios2>(bits);
    return ioctl(fd, TCSETS2, &raw) == 0;
}

} // namespace platform
