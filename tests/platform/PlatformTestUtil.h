// Helpers of the platform tests: environment variables set for one test, scratch files, and a
// pseudo-terminal whose master side the test holds.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vandora::testing {

// Sets (or, with nullopt, removes) an environment variable and puts the old state back.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
        if (const char* old = ::getenv(name_.c_str())) {
            old_ = old;
        }
        set(value);
    }
    ~ScopedEnv() { set(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    void set(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    std::string name_;
    std::optional<std::string> old_;
};

// A file in a fresh temporary folder, removed with the folder.
class ScratchFile {
  public:
    ScratchFile() {
        char pattern[] = "/tmp/vandora-platform-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        folder_ = made != nullptr ? made : "/tmp";
        path_ = folder_ + "/file";
    }
    ~ScratchFile() {
        std::remove(path_.c_str());
        ::rmdir(folder_.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& path() const { return path_; }
    void write(const std::string& content) const {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << content;
    }

  private:
    std::string folder_;
    std::string path_;
};

// A pseudo-terminal: the test holds the master, the port under test opens slavePath().
class PtyPair {
  public:
    PtyPair() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            return;
        }
        char name[128] = {};
        if (::ptsname_r(master_, name, sizeof name) == 0) {
            slave_ = name;
        }
    }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && !slave_.empty(); }
    int master() const { return master_; }
    const std::string& slavePath() const { return slave_; }

    void closeMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

    void send(const std::vector<std::uint8_t>& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            ASSERT_GT(n, 0) << "master write failed, errno " << errno;
            done += static_cast<std::size_t>(n);
        }
    }

    // What the master receives, until `count` bytes are there or nothing comes for waitMs.
    std::vector<std::uint8_t> receive(std::size_t count, int waitMs = 2000) const {
        std::vector<std::uint8_t> bytes;
        while (bytes.size() < count) {
            pollfd entry{master_, POLLIN, 0};
            if (::poll(&entry, 1, waitMs) <= 0 || (entry.revents & POLLIN) == 0) {
                break;
            }
            std::uint8_t chunk[4096];
            ssize_t n = ::read(master_, chunk, std::min(sizeof chunk, count - bytes.size()));
            if (n <= 0) {
                break;
            }
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }

  private:
    int master_ = -1;
    std::string slave_;
};

}  // namespace vandora::testing
