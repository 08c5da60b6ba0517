#include "platform/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace vandora {

namespace {

std::string folderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The start of every temporary file name of a target: ".NAME.tmp-".
std::string temporaryPrefix(const std::string& target) {
    return "." + baseOf(target) + ".tmp-";
}

// A symbolic link is written through, so the link stays and its target gets the new contents.
std::string writeTarget(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            std::string target(resolved);
            std::free(resolved);
            return target;
        }
    }
    return path;
}

bool writeAll(AtomicFileSystem& fs, int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = fs.write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Opens a new, unique temporary file in the folder of target, with the mode of the file it will
// replace (or newFileMode for a new file). Nothing is written before the mode is set.
int openTemporary(const std::string& target, mode_t newFileMode, std::string& tempPath) {
    static std::atomic<unsigned> counter{0};
    const std::string stem = folderOf(target) + "/" + temporaryPrefix(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = stem + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
        int fd =
            ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, newFileMode & 07777);
        if (fd >= 0) {
            struct stat old {};
            if (::stat(target.c_str(), &old) == 0) {
                ::fchmod(fd, old.st_mode & 07777);
            }
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    return -1;
}

void syncFolder(const std::string& folder, AtomicFileSystem& fs) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        // Best effort: the rename is done; a folder that cannot be synced loses nothing now.
        (void)fs.fsync(fd);
        ::close(fd);
    }
}

// The process id in a temporary name's tail "PID-N"; 0 when the tail is not of that form.
pid_t writerOf(std::string_view tail) {
    std::size_t dash = tail.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash + 1 == tail.size()) {
        return 0;
    }
    long pid = 0;
    for (std::size_t i = 0; i < tail.size(); ++i) {
        char c = tail[i];
        if (i == dash) {
            continue;
        }
        if (c < '0' || c > '9') {
            return 0;
        }
        if (i < dash) {
            pid = pid * 10 + (c - '0');
            if (pid > 0x7FFFFFFF) {
                return 0;
            }
        }
    }
    return static_cast<pid_t>(pid);
}

bool stillRunning(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

}  // namespace

ssize_t AtomicFileSystem::write(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
}

int AtomicFileSystem::fsync(int fd) {
    return ::fsync(fd);
}

int AtomicFileSystem::rename(const char* from, const char* to) {
    return ::rename(from, to);
}

std::int32_t AtomicFile::write(const std::vector<std::uint8_t>& bytes) {
    AtomicFileSystem fs;
    return write(bytes, fs);
}

std::int32_t AtomicFile::write(const std::vector<std::uint8_t>& bytes, AtomicFileSystem& fs) {
    lastError_ = 0;
    std::string target = writeTarget(path_);
    std::string tempPath;
    int fd = openTemporary(target, newFileMode_, tempPath);
    if (fd < 0) {
        lastError_ = errno;
        return 0;
    }
    bool ok = writeAll(fs, fd, bytes) && fs.fsync(fd) == 0;
    int error = ok ? 0 : errno;
    // close can report a delayed write error; the rename must not go ahead then.
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && fs.rename(tempPath.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(tempPath.c_str());
        lastError_ = error != 0 ? error : EIO;
        return 0;
    }
    syncFolder(folderOf(target), fs);
    return 1;
}

std::int32_t AtomicFile::removeLeftovers() {
    std::string target = writeTarget(path_);
    std::string folder = folderOf(target);
    std::string prefix = temporaryPrefix(target);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return 0;
    }
    std::int32_t removed = 0;
    const pid_t self = ::getpid();
    while (dirent* entry = ::readdir(dir)) {
        std::string_view name(entry->d_name);
        if (name.substr(0, prefix.size()) != prefix) {
            continue;
        }
        pid_t writer = writerOf(name.substr(prefix.size()));
        if (writer <= 0 || (writer != self && stillRunning(writer))) {
            continue;
        }
        std::string path = folder + "/" + std::string(name);
        struct stat info {};
        // Only plain files: a link or folder of that name was not made by a write.
        if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::unlink(path.c_str()) == 0) {
            ++removed;
        }
    }
    ::closedir(dir);
    return removed;
}

}  // namespace vandora
