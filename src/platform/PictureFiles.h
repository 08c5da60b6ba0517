// Where captured pictures go: the picture folder made on demand, the free space of its volume,
// and the file written under a name of its own.
//
// The real file system behind a small interface, so that tests can have a full disk or a folder
// that cannot be written. Results are plain values; nothing throws.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace vandora {

class PictureFiles {
  public:
    virtual ~PictureFiles() = default;
    // Creates every missing folder along path (which ends with "/" or names the last folder);
    // failures are left to the write that follows.
    virtual void ensureDirectory(const std::string& path);
    // Whether the volume of path has at least bytes free for this user; false when it cannot be
    // asked.
    virtual bool hasDiskSpace(const std::string& path, std::uint64_t bytes);
    // Writes bytes under name or, when a file of that name exists, under the first free
    // "-1", "-2", ... before the extension. The bytes go to a temporary file first and take
    // their name only when complete. Returns the name used, or "" with errno-style error set.
    virtual std::string save(const std::string& name, const std::vector<std::uint8_t>& bytes,
                             int& error);
};

// folder + the time as yyMMddhhmmss + extension.
std::string pictureFileName(const std::string& folder, const std::tm& local, const char* extension);

}  // namespace vandora
