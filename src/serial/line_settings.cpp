#include "serial/line_settings.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace kalvor::serial_detail {

speed_t BaudCode(uint32_t baud) {
    switch (baud) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        default: return B0;
    }
}

bool MakeLineSettings(termios& tio, uint32_t baud, uint8_t byteSize, uint8_t stopBits, uint8_t parity,
                      std::string* why) {
    auto refuse = [why](std::string text) {
        if (why != nullptr) *why = std::move(text);
        return false;
    };
    const speed_t speed = BaudCode(baud);
    if (speed == B0) return refuse("unsupported baud rate " + std::to_string(baud));
    tcflag_t size;
    switch (byteSize) {
        case 5: size = CS5; break;
        case 6: size = CS6; break;
        case 7: size = CS7; break;
        case 8: size = CS8; break;
        default: return refuse("unsupported byte size " + std::to_string(byteSize));
    }
    if (stopBits > 2) return refuse("unsupported stop bits code " + std::to_string(stopBits));
    if (parity > 4) return refuse("unsupported parity code " + std::to_string(parity));

    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD | size;
    if (stopBits != 0) tio.c_cflag |= CSTOPB;  // one and a half has no termios code: two
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
    switch (parity) {
        case 1: tio.c_cflag |= PARENB | PARODD; break;           // odd
        case 2: tio.c_cflag |= PARENB; break;                    // even
        case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;  // mark
        case 4: tio.c_cflag |= PARENB | CMSPAR; break;           // space
        default: break;
    }
    if (parity != 0) tio.c_iflag |= INPCK;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    return true;
}

bool IsPseudoTerminal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned m = major(st.st_rdev);
    return (m >= 136 && m <= 143) || m == 3;  // UNIX98_PTY_SLAVE_MAJOR.., TTY_MAJOR (BSD slaves)
}

bool SettingsTookEffect(const termios& want, const termios& got, tcflag_t ignoredCflags) {
    constexpr tcflag_t kCflags = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CLOCAL | CREAD;
    constexpr tcflag_t kIflags = IXON | IXOFF | IXANY | INPCK | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK;
    constexpr tcflag_t kLflags = ICANON | ECHO | ECHONL | ISIG | IEXTEN;
    const tcflag_t c = kCflags & ~ignoredCflags;
    return (want.c_cflag & c) == (got.c_cflag & c) && (want.c_iflag & kIflags) == (got.c_iflag & kIflags) &&
           (want.c_lflag & kLflags) == (got.c_lflag & kLflags) && (want.c_oflag & OPOST) == (got.c_oflag & OPOST) &&
           ::cfgetispeed(&want) == ::cfgetispeed(&got) && ::cfgetospeed(&want) == ::cfgetospeed(&got) &&
           want.c_cc[VMIN] == got.c_cc[VMIN] && want.c_cc[VTIME] == got.c_cc[VTIME];
}

}  // namespace kalvor::serial_detail
