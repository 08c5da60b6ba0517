// AtomicFile beyond what the settings file's save tests show: the temporary files of writes that
// never finished, and the mode of what it writes.
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

// Records the mode the temporary file has when the contents go into it.
class ModeAtWrite : public AtomicFileSystem {
  public:
    ssize_t write(int fd, const void* data, std::size_t size) override {
        struct stat info {};
        modes.push_back(::fstat(fd, &info) == 0 ? info.st_mode & 07777 : 0);
        return AtomicFileSystem::write(fd, data, size);
    }
    std::vector<mode_t> modes;
};

// A new file gets the mode asked for (less the umask) before anything is written into it; a file
// that exists keeps its own, stricter or looser.
TEST(AtomicFile, ANewFileGetsTheModeAskedForAndAnExistingOneKeepsItsOwn) {
    char pattern[] = "/tmp/vandora-atomic-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    fs::path folder = pattern;
    struct Case {
        const char* label;
        int existing;  // the mode of the file already there; -1: none
        mode_t asked;  // 0: the default
        mode_t umask;
        mode_t want;
    };
    const Case cases[] = {
        {"new, default", -1, 0, 022, 0644},
        {"new, asked 0640", -1, 0640, 0, 0640},
        {"new, asked 0600 under umask 0", -1, 0600, 0, 0600},
        {"new, asked 0640 under umask 077", -1, 0640, 077, 0600},
        {"existing 0644 kept", 0644, 0600, 0, 0644},
        {"existing 0400 kept", 0400, 0640, 022, 0400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        fs::path path = folder / "VandoraINI.txt";
        fs::remove(path);
        if (c.existing >= 0) {
            std::ofstream(path) << "old";
            ASSERT_EQ(::chmod(path.c_str(), static_cast<mode_t>(c.existing)), 0);
        }
        mode_t oldMask = ::umask(c.umask);
        AtomicFile file =
            c.asked == 0 ? AtomicFile(path.string()) : AtomicFile(path.string(), c.asked);
        ModeAtWrite recorder;
        EXPECT_EQ(file.write({1, 2, 3}, recorder), 1);
        ::umask(oldMask);
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.want);
        ASSERT_FALSE(recorder.modes.empty());
        EXPECT_EQ(recorder.modes.front(), c.want)
            << "the contents went into a file of another mode";
    }
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
