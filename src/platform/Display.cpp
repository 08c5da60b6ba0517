#include "platform/Display.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vandora {

namespace {

bool connects(const std::string& path, bool abstract) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::size_t offset = abstract ? 1 : 0;  // an abstract name starts with a zero byte
    std::size_t length = std::min(path.size(), sizeof address.sun_path - 1 - offset);
    std::memcpy(address.sun_path + offset, path.data(), length);
    auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + length);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), size) == 0;
    close(fd);
    return ok;
}

}  // namespace

bool displayAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0' && std::strncmp(platform, "xcb", 3) != 0 &&
        std::strncmp(platform, "wayland", 7) != 0) {
        return true;
    }
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland != nullptr && *wayland != '\0') {
        return true;
    }
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        return false;
    }
    if (display[0] != ':') {
        return true;  // a display on another host: the toolkit finds out
    }
    std::string number(display + 1);
    number = number.substr(0, number.find('.'));
    std::string socketPath = "/tmp/.X11-unix/X" + number;
    return connects(socketPath, true) || connects(socketPath, false);
}

}  // namespace vandora
