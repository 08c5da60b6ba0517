// Picture files: the name by the time, missing folders made, and a picture never written over
// another or left half-written under its name.
#include "platform/PictureFiles.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/FileText.h"

namespace vandora::testing {
namespace {

namespace fs = std::filesystem;

using vandora::testing::fileText;

TEST(PictureFiles, NamedByTheTimeInFoldersMadeOnDemandAndNeverOverwritten) {
    fs::path root = fs::temp_directory_path() / ("vandora-pictures-" + std::to_string(getpid()));
    fs::remove_all(root);
    std::string folder = (root / "a" / "b").string() + "/";
    std::tm at{};
    at.tm_year = 110;  // 2010
    at.tm_mon = 6;     // July
    at.tm_mday = 3;
    at.tm_hour = 14;
    at.tm_min = 5;
    at.tm_sec = 9;
    std::string name = pictureFileName(folder, at, ".bmp");
    EXPECT_EQ(name, folder + "100703140509.bmp");

    PictureFiles files;
    files.ensureDirectory(folder);
    ASSERT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(files.hasDiskSpace(folder, 1));
    EXPECT_FALSE(files.hasDiskSpace(folder, ~std::uint64_t{0}));
    EXPECT_FALSE(files.hasDiskSpace((root / "missing").string(), 1));

    // Three pictures of one second keep their own files.
    int error = 0;
    EXPECT_EQ(files.save(name, {'1'}, error), name);
    EXPECT_EQ(files.save(name, {'2'}, error), folder + "100703140509-1.bmp");
    EXPECT_EQ(files.save(name, {'3'}, error), folder + "100703140509-2.bmp");
    EXPECT_EQ(fileText(name), "1");
    EXPECT_EQ(fileText(folder + "100703140509-2.bmp"), "3");
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        EXPECT_EQ(entry.path().filename().string().front(), '1') << "left behind: " << entry.path();
        ++count;
    }
    EXPECT_EQ(count, 3u);

    // A folder that cannot be written: nothing saved, the cause given.
    EXPECT_EQ(files.save((root / "none" / "x.jpg").string(), {'4'}, error), "");
    EXPECT_EQ(error, ENOENT);
    fs::remove_all(root);
}

}  // namespace
}  // namespace vandora::testing
