// Pseudo-terminals and serial devices for the simulator.
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "zeda_simulator.h"

namespace zeda {

namespace {

void SetError(std::string* error, const std::string& what) {
    if (error) *error = what + ": " + std::strerror(errno);
}

bool SpeedOf(unsigned baud, speed_t& speed) {
    switch (baud) {
    case 1200: speed = B1200; return true;
    case 2400: speed = B2400; return true;
    case 4800: speed = B4800; return true;
    case 9600: speed = B9600; return true;
    case 19200: speed = B19200; return true;
    case 38400: speed = B38400; return true;
    case 57600: speed = B57600; return true;
    case 115200: speed = B115200; return true;
    default: return false;
    }
}

}  // namespace

bool ConfigureSerial(int fd, unsigned baud, char parity, std::string* error) {
    speed_t speed;
    if (!SpeedOf(baud, speed)) {
        if (error) *error = "unsupported baud rate " + std::to_string(baud);
        return false;
    }
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        SetError(error, "tcgetattr");
        return false;
    }
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    switch (parity) {
    case 'N': case 'n':
        break;
    case 'E': case 'e':
        t.c_cflag |= PARENB;
        t.c_iflag |= INPCK;
        break;
    case 'O': case 'o':
        t.c_cflag |= PARENB | PARODD;
        t.c_iflag |= INPCK;
        break;
    default:
        if (error) *error = std::string("unsupported parity '") + parity + "'";
        return false;
    }
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        SetError(error, "tcsetattr");
        return false;
    }
    return true;
}

bool OpenPtyPair(int& masterFd, std::string& slavePath) {
    const int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0) return false;
    char name[128];
    if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
        ::close(m);
        return false;
    }
    // The slave's settings belong to the pseudo-terminal and stay while the master is open, so raw mode set
    // here holds for every later opening of the slave (the console sets its own mode as well).
    termios t{};
    if (tcgetattr(m, &t) == 0) {
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        tcsetattr(m, TCSANOW, &t);
    }
    const int flags = fcntl(m, F_GETFL);
    if (flags < 0 || fcntl(m, F_SETFL, flags | O_NONBLOCK) != 0) {
        ::close(m);
        return false;
    }
    masterFd = m;
    slavePath = name;
    return true;
}

int OpenSerialDevice(const std::string& path, unsigned baud, char parity, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetError(error, "open " + path);
        return -1;
    }
    if (!isatty(fd)) {
        if (error) *error = path + " is not a terminal device";
        ::close(fd);
        return -1;
    }
    if (!ConfigureSerial(fd, baud, parity, error)) {
        ::close(fd);
        return -1;
    }
    tcflush(fd, TCIOFLUSH);
    return fd;
}

}  // namespace zeda
