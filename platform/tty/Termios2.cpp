// The one file that includes the kernel's termios2 header: it clashes with <termios.h>.
#include "platform/tty/Termios2.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>

namespace platform {

static_assert(BOTHER == kSpeedInField && IBSHIFT == kInputSpeedShift && NCCS == kControlChars);

bool readLineBits(int fd, LineBits& out)
{
    termios2 raw {};
    if (ioctl(fd, TCGETS2, &raw) != 0)
        return false;
    out.iflag = raw.c_iflag;
    out.oflag = raw.c_oflag;
    out.cflag = raw.c_cflag;
    out.lflag = raw.c_lflag;
    out.line = raw.c_line;
    std::copy(std::begin(raw.c_cc), std::end(raw.c_cc), out.cc.begin());
    out.ispeed = raw.c_ispeed;
    out.ospeed = raw.c_ospeed;
    return true;
}

bool writeLineBits(int fd, const LineBits& bits)
{
    termios2 raw {};
    raw.c_iflag = bits.iflag;
    raw.c_oflag = bits.oflag;
    raw.c_cflag = bits.cflag;
    raw.c_lflag = bits.lflag;
    raw.c_line = bits.line;
    std::copy(bits.cc.begin(), bits.cc.end(), std::begin(raw.c_cc));
    raw.c_ispeed = bits.ispeed;
    raw.c_ospeed = bits.ospeed;
    return ioctl(fd, TCSETS2, &raw) == 0;
}

} // namespace platform
