#include "platform/PictureFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace vandora {

namespace {

// Enough for every picture of one second; more means something else is wrong.
constexpr int kMaxSuffix = 9999;

bool writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string withSuffix(const std::string& name, int n) {
    if (n == 0) {
        return name;
    }
    std::size_t slash = name.rfind('/');
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        dot = name.size();
    }
    return name.substr(0, dot) + "-" + std::to_string(n) + name.substr(dot);
}

// Gives the temporary file the name unless that name is taken; a hard link never replaces.
int claimName(const std::string& temp, const std::string& name) {
    if (::link(temp.c_str(), name.c_str()) == 0) {
        return 0;
    }
    int error = errno;
    if (error == EEXIST) {
        return EEXIST;
    }
    // File systems without hard links (FAT cards): a look first, then the rename.
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0) {
        return EEXIST;
    }
    if (::rename(temp.c_str(), name.c_str()) != 0) {
        return errno;
    }
    return -1;  // renamed: nothing left to remove
}

}  // namespace

void PictureFiles::ensureDirectory(const std::string& path) {
    if (path.empty()) {
        return;
    }
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
        ::mkdir(path.substr(0, at).c_str(), 0777);
    }
    ::mkdir(path.c_str(), 0777);
}

bool PictureFiles::hasDiskSpace(const std::string& path, std::uint64_t bytes) {
    struct statvfs vfs {};
    if (::statvfs(path.c_str(), &vfs) != 0) {
        return false;
    }
    std::uint64_t available = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    return available >= bytes;
}

std::string PictureFiles::save(const std::string& name, const std::vector<std::uint8_t>& bytes,
                               int& error) {
    error = 0;
    std::size_t slash = name.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    std::string temp = folder + "." + base + ".tmp-" + std::to_string(::getpid());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errno;
        return {};
    }
    bool written = writeAll(fd, bytes) && ::fsync(fd) == 0;
    int writeError = errno;
    ::close(fd);
    if (!written) {
        error = writeError;
        ::unlink(temp.c_str());
        return {};
    }
    for (int n = 0; n <= kMaxSuffix; ++n) {
        std::string candidate = withSuffix(name, n);
        int result = claimName(temp, candidate);
        if (result == EEXIST) {
            continue;
        }
        if (result > 0) {
            error = result;
            ::unlink(temp.c_str());
            return {};
        }
        if (result == 0) {
            ::unlink(temp.c_str());
        }
        return candidate;
    }
    error = EEXIST;
    ::unlink(temp.c_str());
    return {};
}

std::string pictureFileName(const std::string& folder, const std::tm& local,
                            const char* extension) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d%.2d%.2d%.2d%.2d%.2d", (local.tm_year + 1900) % 100,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return folder + stamp + extension;
}

}  // namespace vandora
