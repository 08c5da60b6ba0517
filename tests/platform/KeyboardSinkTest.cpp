// The keystroke log when it cannot be written: keys are dropped, and that is said once, not once
// per key.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/KeyboardSink.h"

namespace vandora {
namespace {

namespace fs = std::filesystem;

class KeyboardLog : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vandora-keylog-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { fs::remove_all(folder_); }

    LogKeyboardSink sinkFor(const std::string& path) {
        return LogKeyboardSink(path, [this](const std::string& m) { reports_.push_back(m); });
    }
    static void typeKeys(KeyboardSink& sink, int count) {
        for (int i = 0; i < count; ++i) {
            sink.postCharacters({'a', 'b'});
            sink.keyEvent(13, 0, 0);
        }
    }

    fs::path folder_;
    std::vector<std::string> reports_;
};

TEST_F(KeyboardLog, AnUnwritableLogIsReportedOnceNamingThePath) {
    struct Case {
        const char* label;
        std::string path;
    };
    ASSERT_TRUE(fs::create_directory(folder_ / "a-folder"));
    ASSERT_EQ(::mkfifo((folder_ / "fifo").c_str(), 0600), 0);
    const Case cases[] = {
        {"missing folder", (folder_ / "no/such/folder/keys.log").string()},
        {"a folder, not a file", (folder_ / "a-folder").string()},
        {"a FIFO nobody reads", (folder_ / "fifo").string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        reports_.clear();
        LogKeyboardSink sink = sinkFor(c.path);
        typeKeys(sink, 20);
        ASSERT_EQ(reports_.size(), 1u);
        EXPECT_NE(reports_[0].find(c.path), std::string::npos) << reports_[0];
    }
}

TEST_F(KeyboardLog, AFailureAfterTheLogWorkedAgainIsReportedAgain) {
    fs::path logFolder = folder_ / "logs";
    std::string path = (logFolder / "keys.log").string();
    LogKeyboardSink sink = sinkFor(path);
    typeKeys(sink, 3);
    EXPECT_EQ(reports_.size(), 1u);

    ASSERT_TRUE(fs::create_directory(logFolder));
    typeKeys(sink, 1);
    std::ifstream log(path);
    std::string first;
    std::getline(log, first);
    EXPECT_EQ(first, "post 2 61 62");
    EXPECT_EQ(reports_.size(), 1u) << "a working log says nothing";

    fs::remove_all(logFolder);
    typeKeys(sink, 3);
    EXPECT_EQ(reports_.size(), 2u);
}

}  // namespace
}  // namespace vandora
