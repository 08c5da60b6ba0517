// AtomicFile: a file replaced whole or not at all.
//
// A write goes to a new temporary file beside the target (".NAME.tmp-PID-N"), is flushed to disk,
// then renamed over the target, and the folder is flushed, so that a failure or a power loss at
// any step leaves either the old file or the new one, never a mix. A target that is a symbolic
// link is written through: the link stays and its target gets the new contents. The new file
// keeps the old one's mode; a file that did not exist gets the mode the caller gave (0666 unless
// told otherwise) less the umask, from its creation on, so that its contents are never readable
// by more than that.
//
// A write cut short by the end of the process leaves its temporary file; removeLeftovers clears
// those of processes that no longer run.
//
// Results are 1 for success, 0 for failure with the cause in lastError() (an errno value).
// Nothing throws. Not thread-safe per object; two objects may write different targets at once.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vandora {

// The file system calls of a write. Tests replace them to make a write fail half-way.
class AtomicFileSystem {
  public:
    virtual ~AtomicFileSystem() = default;
    virtual ssize_t write(int fd, const void* data, std::size_t size);
    virtual int fsync(int fd);
    virtual int rename(const char* from, const char* to);
};

class AtomicFile {
  public:
    // newFileMode: the mode of the file when it does not exist yet (the umask still applies).
    explicit AtomicFile(std::string path, mode_t newFileMode = 0666)
        : path_(std::move(path)), newFileMode_(newFileMode) {}

    // Replaces the file with `bytes`; a failure at any step removes the temporary file and
    // leaves the old file as it was.
    std::int32_t write(const std::vector<std::uint8_t>& bytes);
    std::int32_t write(const std::vector<std::uint8_t>& bytes, AtomicFileSystem& fs);

    // Removes the temporary files that writes of this file by processes no longer running (or
    // by this process, which has no write under way when it calls this) left behind; returns
    // how many were removed.
    std::int32_t removeLeftovers();

    const std::string& path() const { return path_; }
    // The errno of the step that failed last; 0 after a success.
    int lastError() const { return lastError_; }

  private:
    std::string path_;
    mode_t newFileMode_ = 0666;
    int lastError_ = 0;
};

}  // namespace vandora
