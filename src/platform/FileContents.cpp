#include "platform/FileContents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vandora {

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& out, std::size_t maxBytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uint64_t>(info.st_size) > maxBytes) {
        ::close(fd);
        return false;
    }
    // One spare byte so that the read that finds the end needs no room of its own.
    out.resize(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t done = 0;
    for (;;) {
        if (done == out.size()) {
            out.resize(out.size() * 2);  // the file grew while being read
        }
        ssize_t got = ::read(fd, out.data() + done, out.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 || done > maxBytes) {
            ::close(fd);
            return false;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    if (done > maxBytes) {
        return false;
    }
    out.resize(done);
    return true;
}

}  // namespace vandora
