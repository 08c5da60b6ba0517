#include "platform/DeviceWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace vandora {

DeviceWatch::~DeviceWatch() {
    stop();
}

bool DeviceWatch::start(const std::string& path) {
    stop();
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
        lastError_ = errno;
        return false;
    }
    if (inotify_add_watch(fd, folder.c_str(),
                          IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE | IN_MOVED_FROM) < 0) {
        lastError_ = errno;
        close(fd);
        return false;
    }
    fd_ = fd;
    path_ = path;
    lastError_ = 0;
    return true;
}

void DeviceWatch::stop() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

bool DeviceWatch::drain() {
    if (fd_ < 0) {
        return false;
    }
    alignas(inotify_event) char buffer[4096];
    while (read(fd_, buffer, sizeof buffer) > 0) {
    }
    // Whatever the events were, the answer is whether the device can be found now (a link
    // is followed to its target).
    return access(path_.c_str(), F_OK) == 0;
}

}  // namespace vandora
