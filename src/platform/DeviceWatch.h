// DeviceWatch: tells when a device path comes back, without polling.
//
// An unplugged engine's device node (or the symbolic link that names it) disappears and is made
// again when the device returns. The watch uses inotify on the path's folder, so that a name that
// does not exist yet can be waited for; fd() becomes readable whenever an entry of that folder is
// created, moved in or changes its attributes (udev sets the permissions after creating a node),
// and drain() then says whether the path exists.
//
// Threading: one thread (the event loop's) uses a watch.
#pragma once

#include <string>

namespace vandora {

class DeviceWatch {
  public:
    DeviceWatch() = default;
    ~DeviceWatch();
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

    // Starts watching path (a previous watch ends). False, with the errno in lastError(), when the
    // folder cannot be watched.
    bool start(const std::string& path);
    void stop();
    bool watching() const { return fd_ >= 0; }
    // Readable when the folder changed; -1 when not watching.
    int fd() const { return fd_; }
    // Reads the pending events without waiting; true when the path exists now.
    bool drain();
    const std::string& path() const { return path_; }
    int lastError() const { return lastError_; }

  private:
    int fd_ = -1;
    std::string path_;
    int lastError_ = 0;
};

}  // namespace vandora
