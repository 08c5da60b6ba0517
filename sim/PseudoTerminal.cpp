#include "PseudoTerminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace vandora::sim {
namespace {

struct SpeedRow {
    speed_t code;
    std::uint32_t baud;
};

constexpr SpeedRow kSpeeds[] = {
    {B1200, 1200},       {B2400, 2400},       {B4800, 4800},       {B9600, 9600},
    {B19200, 19200},     {B38400, 38400},     {B57600, 57600},     {B115200, 115200},
    {B230400, 230400},   {B460800, 460800},   {B921600, 921600},   {B50, 50},
    {B75, 75},           {B110, 110},         {B134, 134},         {B150, 150},
    {B200, 200},         {B300, 300},         {B600, 600},         {B1800, 1800},
    {B500000, 500000},   {B576000, 576000},   {B1000000, 1000000}, {B1152000, 1152000},
    {B1500000, 1500000}, {B2000000, 2000000},
};

}  // namespace

int openRawPseudoTerminal(int& master, std::string& slavePath) {
    int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    char name[256] = {};
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0) {
        int error = errno;
        ::close(fd);
        return error;
    }
    // Raw from the start, for a host that does not set the line up itself.
    int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0) {
        termios tio{};
        if (::tcgetattr(slave, &tio) == 0) {
            ::cfmakeraw(&tio);
            (void)::tcsetattr(slave, TCSANOW, &tio);
        }
        ::close(slave);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    master = fd;
    slavePath = name;
    return 0;
}

std::uint32_t pseudoTerminalBaud(int master) {
    termios tio{};
    if (::tcgetattr(master, &tio) != 0) {
        return 0;
    }
    speed_t speed = ::cfgetospeed(&tio);
    for (const SpeedRow& row : kSpeeds) {
        if (row.code == speed) {
            return row.baud;
        }
    }
    return 0;
}

}  // namespace vandora::sim
