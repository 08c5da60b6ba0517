// AtomicFile beyond what the settings file's save tests show: the temporary files of writes that
// never finished.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/AtomicFile.h"

namespace vandora {
namespace {

namespace fs = std::filesystem;

// The id of a process that has ended.
pid_t endedProcess() {
    pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return pid;
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder)) {
        names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(AtomicFile, LeftoversOfEndedWritesAreRemovedAndNothingElse) {
    char pattern[] = "/tmp/vandora-atomic-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    fs::path folder = pattern;
    const std::string ended = std::to_string(endedProcess());
    const std::string self = std::to_string(::getpid());
    const std::string running = std::to_string(::getppid());
    const std::vector<std::string> removed = {
        ".VandoraINI.txt.tmp-" + ended + "-0",
        ".VandoraINI.txt.tmp-" + self + "-7",
    };
    const std::vector<std::string> kept = {
        "VandoraINI.txt",
        ".VandoraINI.txt.tmp-" + running + "-3",  // a write under way in another process
        ".other.txt.tmp-" + ended + "-0",         // another file's
        ".VandoraINI.txt.tmp-x" + ended + "-0",   // not a name a write makes
        ".VandoraINI.txt.tmp-" + ended,
    };
    for (const auto& names : {removed, kept}) {
        for (const std::string& name : names) {
            std::ofstream(folder / name) << "x";
        }
    }
    const std::string link = ".VandoraINI.txt.tmp-" + ended + "-1";
    fs::create_symlink("VandoraINI.txt", folder / link);

    AtomicFile file((folder / "VandoraINI.txt").string());
    EXPECT_EQ(file.removeLeftovers(), 2);
    std::vector<std::string> expected = kept;
    expected.push_back(link);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(namesIn(folder), expected);
    fs::remove_all(folder);
}

TEST(AtomicFile, AFailedWriteGivesTheCause) {
    AtomicFile file("/nonexistent-folder/VandoraINI.txt");
    EXPECT_EQ(file.write({1, 2, 3}), 0);
    EXPECT_EQ(file.lastError(), ENOENT);
    EXPECT_EQ(file.removeLeftovers(), 0);
}

}  // namespace
}  // namespace vandora
