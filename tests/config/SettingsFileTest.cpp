#include "config/SettingsFile.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "config/IniTestUtil.h"
#include "platform/Log.h"

namespace vandora::testing {
namespace {

// Every rename fails as on a read-only file system.
class ReadOnlyFileSystem : public AtomicFileSystem {
  public:
    int rename(const char*, const char*) override {
        errno = EROFS;
        return -1;
    }
};

class SettingsFileTest : public ::testing::Test {
  protected:
    std::string path() const { return folder_.path("VandoraINI.txt"); }
    std::string recoveryFolder() const { return folder_.path("state/vandora/"); }
    SettingsFile file() const { return SettingsFile(path(), recoveryFolder()); }
    // A store as save-all leaves it.
    static IniStore settings() {
        IniStore store;
        store.setInt(store.findOrAddSection("General"), "windowEvent", 1);
        store.setInt(store.findOrAddSection("Barcode Reader 2D"), "has2D", 1);
        return store;
    }

    ScratchFolder folder_;
};

TEST_F(SettingsFileTest, AFailedSaveKeepsTheSettingsInTheRecoveryFolderAndSaysWhere) {
    const Bytes old = utf16File(u"\r\n[General]\r\nwindowevent=0\r\n");
    folder_.write("VandoraINI.txt", old);
    SettingsFile settingsFile = file();
    IniStore store;
    ASSERT_EQ(settingsFile.load(store), 1);
    store = settings();
    ReadOnlyFileSystem readOnly;

    EXPECT_EQ(settingsFile.save(store, readOnly), 0);
    EXPECT_EQ(folder_.read("VandoraINI.txt"), old);
    EXPECT_EQ(folder_.read("state/vandora/VandoraINI.txt"), store.fileBytes());
    const std::string& message = settingsFile.message();
    EXPECT_NE(message.find(path()), std::string::npos) << message;
    EXPECT_NE(message.find("Read-only file system"), std::string::npos) << message;
    EXPECT_NE(message.find("kept in " + recoveryFolder() + "VandoraINI.txt"), std::string::npos)
        << message;

    EXPECT_EQ(settingsFile.save(store), 1) << "a later save that works";
    EXPECT_EQ(settingsFile.message(), "");
    EXPECT_EQ(folder_.read("VandoraINI.txt"), store.fileBytes());
}

TEST_F(SettingsFileTest, ARecoveryFolderThatCannotBeMadeIsSaidToo) {
    folder_.write("state", bytesOf("a file where the folder would be"));
    SettingsFile settingsFile = file();
    IniStore store = settings();
    ReadOnlyFileSystem readOnly;
    EXPECT_EQ(settingsFile.save(store, readOnly), 0);
    EXPECT_NE(settingsFile.message().find("could not be kept in " + recoveryFolder()),
              std::string::npos)
        << settingsFile.message();
}

TEST_F(SettingsFileTest, AnUnrecognisedFileIsKeptAsBakAtLoadAndNothingOfItIsSavedAgain) {
    struct Case {
        const char* label;
        Bytes contents;  // empty: no file
        bool kept;
    };
    const Case cases[] = {
        {"no section at all", bytesOf("just some text\r\n"), true},
        {"only sections of another program", bytesOf("[Other]\r\nkey=1\r\n"), true},
        {"binary bytes", Bytes{0x00, 0x01, 0xFE, 0x80, 0x5B}, true},
        {"the program's own file", bytesOf("[general]\r\nwindowEvent=1\r\n[Other]\r\nk=1\r\n"),
         false},
        {"a reader section only", bytesOf("[Barcode Reader 2D]\r\nhas2D=1\r\n"), false},
        // A terminal's first file may hold only what connects it to the site's broker.
        {"the broker section only", bytesOf("[MQTT]\r\nenable=1\r\n"), false},
        {"no file", Bytes{}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ScratchFolder folder;
        std::string path = folder.path("VandoraINI.txt");
        if (!c.contents.empty()) {
            folder.write("VandoraINI.txt", c.contents);
        }
        SettingsFile settingsFile(path, folder.path("state/"));
        IniStore store;
        CaptureLogSink log;
        {
            ScopedLogSink capture(log);
            settingsFile.load(store);
        }
        EXPECT_EQ(settingsFile.recognised(), !c.kept);
        if (c.kept) {
            // Said at once, naming both files; the store starts clean.
            EXPECT_EQ(folder.read("VandoraINI.txt.bak"), c.contents);
            EXPECT_TRUE(store.isEmpty()) << render(store);
            ASSERT_EQ(log.entries().size(), 1u);
            EXPECT_EQ(log.entries()[0].level, LogLevel::Warning);
            EXPECT_NE(log.entries()[0].text.find(path + " holds none"), std::string::npos)
                << log.entries()[0].text;
            EXPECT_NE(log.entries()[0].text.find("kept as " + path + ".bak"), std::string::npos)
                << log.entries()[0].text;
        } else {
            EXPECT_TRUE(log.entries().empty());
        }
        store.setInt(store.findOrAddSection("General"), "windowEvent", 1);
        ASSERT_EQ(settingsFile.save(store), 1) << settingsFile.message();
        EXPECT_EQ(folder.read("VandoraINI.txt"), store.fileBytes());
        if (c.kept) {
            EXPECT_EQ(folder.read("VandoraINI.txt"),
                      utf16File(u"\r\n[General]\r\nwindowevent=1\r\n"));
            // Only the first save keeps it: the file is the program's own from then on.
            folder.write("VandoraINI.txt.bak", bytesOf("marker"));
            ASSERT_EQ(settingsFile.save(store), 1);
            EXPECT_EQ(folder.read("VandoraINI.txt.bak"), bytesOf("marker"));
        } else {
            EXPECT_EQ(folder.names(), std::vector<std::string>{"VandoraINI.txt"});
        }
    }
}

TEST_F(SettingsFileTest, AnUnrecognisedFileThatCannotBeKeptIsNotReplaced) {
    const Bytes foreign = bytesOf("[Other]\r\nkey=1\r\n");
    folder_.write("VandoraINI.txt", foreign);
    // A folder where the copy would go: it cannot be written, at load or later.
    ASSERT_EQ(::mkdir(folder_.path("VandoraINI.txt.bak").c_str(), 0700), 0);
    SettingsFile settingsFile = file();
    IniStore store;
    CaptureLogSink log;
    {
        ScopedLogSink capture(log);
        settingsFile.load(store);
    }
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_NE(log.entries()[0].text.find("could not be kept as " + path() + ".bak"),
              std::string::npos)
        << log.entries()[0].text;
    store = settings();
    EXPECT_EQ(settingsFile.save(store), 0);
    EXPECT_EQ(folder_.read("VandoraINI.txt"), foreign);
    EXPECT_EQ(folder_.read("state/vandora/VandoraINI.txt"), store.fileBytes());
    EXPECT_NE(settingsFile.message().find(path() + ".bak"), std::string::npos)
        << settingsFile.message();
}

mode_t modeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// The file may hold the Mifare login key: one the service makes is for its user and group only,
// whatever the umask lets through, and the copies it keeps (the unrecognised file's .bak, the
// recovery copy) for its user alone. A file that exists keeps the mode it was given.
TEST_F(SettingsFileTest, NewFilesAreClosedToOthersAndAnExistingFileKeepsItsMode) {
    struct Case {
        const char* label;
        Bytes contents;    // of the file there before; empty: none
        int existingMode;  // its mode
        bool failingSave;  // the save fails, so the recovery copy is made
        const char* made;  // the file whose mode is checked, in the scratch folder
        mode_t want;
    };
    const Bytes own = bytesOf("[General]\r\nwindowEvent=0\r\n");
    const Bytes foreign = bytesOf("[Other]\r\nkey=1\r\n");
    const Case cases[] = {
        {"a new settings file", {}, 0, false, "VandoraINI.txt", 0640},
        {"an existing file open to all", own, 0644, false, "VandoraINI.txt", 0644},
        {"an existing private file", own, 0600, false, "VandoraINI.txt", 0600},
        {"the kept unrecognised file", foreign, 0644, false, "VandoraINI.txt.bak", 0600},
        {"the unrecognised file replaced", foreign, 0644, false, "VandoraINI.txt", 0644},
        {"the recovery copy", {}, 0, true, "state/vandora/VandoraINI.txt", 0600},
    };
    mode_t oldMask = ::umask(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ScratchFolder folder;
        std::string path = folder.path("VandoraINI.txt");
        if (!c.contents.empty()) {
            folder.write("VandoraINI.txt", c.contents);
            ASSERT_EQ(::chmod(path.c_str(), static_cast<mode_t>(c.existingMode)), 0);
        }
        SettingsFile settingsFile(path, folder.path("state/vandora/"));
        IniStore store;
        settingsFile.load(store);
        store = settings();
        ReadOnlyFileSystem readOnly;
        AtomicFileSystem plain;
        EXPECT_EQ(settingsFile.save(
                      store, c.failingSave ? static_cast<AtomicFileSystem&>(readOnly) : plain),
                  c.failingSave ? 0 : 1)
            << settingsFile.message();
        EXPECT_EQ(modeOf(folder.path(c.made)), c.want);
    }
    ::umask(oldMask);
}

TEST_F(SettingsFileTest, LoadRemovesWhatAnInterruptedSaveLeft) {
    folder_.write("VandoraINI.txt", bytesOf("[General]\r\nwindowEvent=1\r\n"));
    pid_t ended = ::fork();
    if (ended == 0) {
        ::_exit(0);
    }
    ::waitpid(ended, nullptr, 0);
    folder_.write(".VandoraINI.txt.tmp-" + std::to_string(ended) + "-0", bytesOf("half"));
    SettingsFile settingsFile = file();
    IniStore store;
    EXPECT_EQ(settingsFile.load(store), 1);
    EXPECT_EQ(folder_.names(), std::vector<std::string>{"VandoraINI.txt"});
}

}  // namespace
}  // namespace vandora::testing
