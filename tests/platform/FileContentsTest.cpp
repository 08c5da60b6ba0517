// A file read whole, as the settings and the firmware loads read theirs: the bytes as they are,
// a bound on the size, and only regular files.
#include "platform/FileContents.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vandora {
namespace {

namespace fs = std::filesystem;

TEST(FileContents, RegularFilesUpToTheBoundAndNothingElse) {
    fs::path dir = fs::temp_directory_path() / ("vandora-contents-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::string bytes("A\0\xFF\r\nZ", 6);
    std::ofstream(dir / "six", std::ios::binary) << bytes;
    std::ofstream(dir / "empty", std::ios::binary).flush();

    struct Case {
        const char* name;
        fs::path path;
        std::size_t maxBytes;
        bool ok;
        std::string contents;
    };
    const Case cases[] = {
        {"every byte, zeros included", dir / "six", SIZE_MAX, true, bytes},
        {"exactly at the bound", dir / "six", 6, true, bytes},
        {"over the bound", dir / "six", 5, false, {}},
        {"empty file", dir / "empty", SIZE_MAX, true, {}},
        {"missing file", dir / "none", SIZE_MAX, false, {}},
        {"folder", dir, SIZE_MAX, false, {}},
        {"device", "/dev/zero", SIZE_MAX, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> out;
        EXPECT_EQ(readWholeFile(c.path.string(), out, c.maxBytes), c.ok);
        if (c.ok) {
            EXPECT_EQ(std::string(out.begin(), out.end()), c.contents);
        }
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace vandora
