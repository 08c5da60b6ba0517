#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include <gtest/gtest.h>

#include "config/IniStore.h"
#include "config/IniTestUtil.h"

namespace vandora::testing {
namespace {

// ---- lookups

TEST(IniLookup, NamesAndKeysMatchWhateverTheCaseOfAToZ) {
    IniStore store = parsed(bytesOf("[General]\r\nlockScreen = 1\r\n"));
    const IniSection* general = store.findSection("General");
    ASSERT_NE(general, nullptr);
    EXPECT_EQ(general, store.findSection("GENERAL"));
    ByteString value;
    EXPECT_EQ(store.getString(general, "LockScreen", value), 1);
    EXPECT_EQ(value, "1");
}

TEST(IniLookup, OnlyAToZAreFoldedWhenLookingUp) {
    // The parse lowercased the capital A with diaeresis; a lookup folds A to Z only.
    IniStore store = parsed(utf16File(u"[\u00C4x]\r\nk=1\r\n"));
    EXPECT_EQ(store.findSection(ByteString(u"\u00C4X")), nullptr);
    EXPECT_NE(store.findSection(ByteString(u"\u00E4X")), nullptr);
}

TEST(IniLookup, EqualKeysReadAndChangeTheLaterAndBothAreSaved) {
    IniStore store = parsed(bytesOf("[s]\r\nk=first\r\nK=second\r\n"));
    IniSection* s = store.findSection("s");
    ByteString value;
    ASSERT_EQ(store.getString(s, "k", value), 1);
    EXPECT_EQ(value, "second");
    ASSERT_EQ(store.setString(s, "K", "changed"), 1);
    EXPECT_EQ(render(store), "[s] k=first k=changed");
    EXPECT_EQ(store.fileBytes(), utf16File(u"\r\n[s]\r\nk=first\r\nk=changed\r\n"));
}

TEST(IniLookup, EqualSectionsFindTheFirstAndBothAreSaved) {
    IniStore store = parsed(bytesOf("[s]\r\na=1\r\n[S]\r\nb=2\r\n"));
    ASSERT_EQ(store.sections().size(), 2u);
    EXPECT_EQ(store.findSection("s"), &store.sections()[0]);
    EXPECT_EQ(store.findOrAddSection("S"), &store.sections()[0]);
    ByteString value;
    EXPECT_EQ(store.getString(store.findSection("s"), "b", value), 0);
    EXPECT_EQ(store.fileBytes(), utf16File(u"\r\n[s]\r\na=1\r\n\r\n[s]\r\nb=2\r\n"));
}

TEST(IniLookup, NewSectionsKeepTheirNameAndNewKeysAreLowercased) {
    IniStore store;
    IniSection* general = store.findOrAddSection("General");
    ASSERT_EQ(store.setInt(general, "goodReadBeepFileIdx", 3), 1);
    ASSERT_EQ(store.setString(general, "prefixStr", "Pre"), 1);
    ASSERT_EQ(store.setInt(general, "GOODREADBEEPFILEIDX", -4), 1);
    EXPECT_EQ(store.findOrAddSection("GENERAL"), general);
    EXPECT_EQ(render(store), "[General] goodreadbeepfileidx=-4 prefixstr=Pre");
}

TEST(IniLookup, AbsentKeysAndNullSectionsLeaveTheOutputAlone) {
    IniStore store = parsed(bytesOf("[s]\r\nk=1\r\n"));
    ByteString text = "untouched";
    std::int32_t number = 77;
    EXPECT_EQ(store.getString(store.findSection("s"), "other", text), 0);
    EXPECT_EQ(store.getInt(store.findSection("s"), "other", number), 0);
    EXPECT_EQ(store.getString(nullptr, "k", text), 0);
    EXPECT_EQ(store.getInt(nullptr, "k", number), 0);
    EXPECT_EQ(store.setString(nullptr, "k", "x"), 0);
    EXPECT_EQ(store.setInt(nullptr, "k", 1), 0);
    EXPECT_EQ(text, "untouched");
    EXPECT_EQ(number, 77);
    EXPECT_EQ(store.findSection("missing"), nullptr);
    EXPECT_EQ(render(store), "[s] k=1");
}

struct IntCase {
    std::u16string value;
    std::int32_t expected;
};

TEST(IniLookup, IntegersReadWithAtoiRulesOnTheEightBitView) {
    const IntCase cases[] = {
        {u"abc", 0},
        {u"-1", -1},
        {u"  +42x", 42},
        {u"", 0},
        {u"12 34", 12},
        {u"2147483647", INT32_MAX},
        {u"2147483648", INT32_MAX},
        {u"-2147483648", INT32_MIN},
        {u"-99999999999999999999", INT32_MIN},
        {u"\u0137\u0132", 72},  // units cut to their low bytes: "72"
        {u"\u0120\u0109"
         u"5",
         5},  // ... which may be white space
        {std::u16string(u"4\0"
                        u"5",
                        3),
         4},
    };
    for (const IntCase& c : cases) {
        IniStore store;
        IniSection* s = store.findOrAddSection("s");
        store.setString(s, "k", ByteString(std::u16string_view(c.value)));
        std::int32_t out = 12345;
        EXPECT_EQ(store.getInt(s, "k", out), 1);
        EXPECT_EQ(out, c.expected) << escaped(c.value);
    }
}

TEST(IniLookup, SetIntWritesDecimal) {
    IniStore store;
    IniSection* s = store.findOrAddSection("s");
    store.setInt(s, "a", INT32_MIN);
    store.setInt(s, "b", 0);
    EXPECT_EQ(render(store), "[s] a=-2147483648 b=0");
}

// ---- the saved file

TEST(IniSave, WritesMarkBlankLinesCrLfAndUtf16) {
    IniStore store;
    IniSection* general = store.findOrAddSection("General");
    store.setInt(general, "goodReadBeepFileIdx", 1);
    store.setString(general, "prefixStr", ByteString(u"\u00E9=\u4E2D"));
    IniSection* rfid = store.findOrAddSection("RFID");
    store.setInt(rfid, "enableRfid", 0);
    store.findOrAddSection("Empty");

    const Bytes expected = {
        0xFF, 0xFE,  // mark
        '\r', 0,    '\n', 0, '[',  0, 'G',  0, 'e',  0,    'n',  0, 'e',  0,
        'r',  0,                                         // "\r\n[General]\r\n"
        'a',  0,    'l',  0, ']',  0, '\r', 0, '\n', 0,  //
        'g',  0,    'o',  0, 'o',  0, 'd',  0, 'r',  0,    'e',  0, 'a',  0,
        'd',  0,  // goodreadbeepfileidx
        'b',  0,    'e',  0, 'e',  0, 'p',  0, 'f',  0,    'i',  0, 'l',  0,
        'e',  0,                                                              //
        'i',  0,    'd',  0, 'x',  0, '=',  0, '1',  0,    '\r', 0, '\n', 0,  // =1\r\n
        'p',  0,    'r',  0, 'e',  0, 'f',  0, 'i',  0,    'x',  0, 's',  0,
        't',  0,                                                              // prefixstr
        'r',  0,    '=',  0, 0xE9, 0, '=',  0, 0x2D, 0x4E, '\r', 0, '\n', 0,  // =é=中\r\n
        '\r', 0,    '\n', 0, '[',  0, 'R',  0, 'F',  0,    'I',  0, 'D',  0,
        ']',  0,              // "\r\n[RFID]\r\n"
        '\r', 0,    '\n', 0,  //
        'e',  0,    'n',  0, 'a',  0, 'b',  0, 'l',  0,    'e',  0, 'r',  0,
        'f',  0,                                                     // enablerfid=0\r\n
        'i',  0,    'd',  0, '=',  0, '0',  0, '\r', 0,    '\n', 0,  //
        '\r', 0,    '\n', 0, '[',  0, 'E',  0, 'm',  0,    'p',  0, 't',  0,
        'y',  0,  // "\r\n[Empty]\r\n"
        ']',  0,    '\r', 0, '\n', 0,
    };
    ScratchFolder folder;
    ASSERT_EQ(store.save(folder.path("VandoraINI.txt")), 1);
    EXPECT_EQ(folder.read("VandoraINI.txt"), expected);
}

TEST(IniSave, EightBitFileIsWrittenBackAsUtf16WithTheSameLowBytes) {
    IniStore store = parsed(bytesOf("[s]\r\nk=\xE9\r\n"));
    EXPECT_EQ(store.fileBytes(), utf16File(u"\r\n[s]\r\nk=\uFFE9\r\n"));
    ByteString value;
    store.getString(store.findSection("s"), "k", value);
    EXPECT_EQ(value.narrow(), "\xE9");
}

// ---- atomic save

// Fails one step of the save: the write after some bytes, the flush, or the rename.
class FailingFileSystem : public AtomicFileSystem {
  public:
    enum class Step { Write, Fsync, Rename };
    FailingFileSystem(Step step, std::size_t bytesBeforeFailure = 0)
        : step_(step), budget_(bytesBeforeFailure) {}

    ssize_t write(int fd, const void* data, std::size_t size) override {
        if (step_ != Step::Write) {
            return AtomicFileSystem::write(fd, data, size);
        }
        if (budget_ == 0) {
            errno = ENOSPC;
            return -1;
        }
        std::size_t n = std::min(size, budget_);
        budget_ -= n;
        return AtomicFileSystem::write(fd, data, n);
    }
    int fsync(int fd) override {
        if (step_ == Step::Fsync) {
            errno = EIO;
            return -1;
        }
        return AtomicFileSystem::fsync(fd);
    }
    int rename(const char* from, const char* to) override {
        if (step_ == Step::Rename) {
            errno = EXDEV;
            return -1;
        }
        return AtomicFileSystem::rename(from, to);
    }

  private:
    Step step_;
    std::size_t budget_;
};

class IniAtomicSave : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_.write("VandoraINI.txt", old_);
        store_.findOrAddSection("General");
        store_.setString(store_.findSection("General"), "prefixStr",
                         std::string(5000, 'n').c_str());
    }
    std::string path() const { return folder_.path("VandoraINI.txt"); }

    ScratchFolder folder_;
    const Bytes old_ = utf16File(u"\r\n[General]\r\nprefixstr=old\r\n");
    IniStore store_;
};

TEST_F(IniAtomicSave, ReplacesTheFileAndLeavesNothingElseBehind) {
    ASSERT_EQ(::chmod(path().c_str(), 0640), 0);
    ASSERT_EQ(store_.save(path()), 1);
    EXPECT_EQ(folder_.read("VandoraINI.txt"), store_.fileBytes());
    EXPECT_EQ(folder_.names(), std::vector<std::string>{"VandoraINI.txt"});
    struct stat info {};
    ASSERT_EQ(::stat(path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(store_.lastError(), "");
}

// Each flush costs milliseconds on flash: a save flushes the file once and its folder once.
TEST_F(IniAtomicSave, FlushesTheFileOnceAndTheFolderOnce) {
    struct CountingFileSystem : AtomicFileSystem {
        int fsync(int fd) override {
            struct stat info {};
            if (::fstat(fd, &info) == 0) {
                ++(S_ISDIR(info.st_mode) ? folders : files);
            }
            return AtomicFileSystem::fsync(fd);
        }
        int files = 0;
        int folders = 0;
    } fs;
    ASSERT_EQ(store_.save(path(), fs), 1);
    EXPECT_EQ(fs.files, 1);
    EXPECT_EQ(fs.folders, 1);
}

TEST_F(IniAtomicSave, AFailureAtAnyStepKeepsTheOldFileWhole) {
    using Step = FailingFileSystem::Step;
    const std::pair<const char*, FailingFileSystem> failures[] = {
        {"write fails at once", FailingFileSystem(Step::Write, 0)},
        {"write fails half-way", FailingFileSystem(Step::Write, 4000)},
        {"flush fails", FailingFileSystem(Step::Fsync)},
        {"rename fails", FailingFileSystem(Step::Rename)},
    };
    for (auto [label, fs] : failures) {
        SCOPED_TRACE(label);
        IniStore store = store_;
        EXPECT_EQ(store.save(path(), fs), 0);
        EXPECT_EQ(store.lastError(), IniStore::kWriteError);
        EXPECT_EQ(folder_.read("VandoraINI.txt"), old_);
        EXPECT_EQ(folder_.names(), std::vector<std::string>{"VandoraINI.txt"});
    }
}

TEST_F(IniAtomicSave, AMissingFolderFailsWithTheErrorText) {
    EXPECT_EQ(store_.save(folder_.path("no/such/folder/VandoraINI.txt")), 0);
    EXPECT_EQ(store_.lastError(), IniStore::kWriteError);
    EXPECT_EQ(folder_.read("VandoraINI.txt"), old_);
}

TEST_F(IniAtomicSave, AnEmptyStoreLeavesTheFileUntouched) {
    IniStore empty;
    EXPECT_EQ(empty.save(path()), 1);
    EXPECT_EQ(empty.lastError(), "");
    EXPECT_EQ(folder_.read("VandoraINI.txt"), old_);
}

TEST_F(IniAtomicSave, ALinkIsSavedThrough) {
    ASSERT_EQ(::symlink("VandoraINI.txt", folder_.path("link.txt").c_str()), 0);
    ASSERT_EQ(store_.save(folder_.path("link.txt")), 1);
    EXPECT_EQ(folder_.read("VandoraINI.txt"), store_.fileBytes());
    struct stat info {};
    ASSERT_EQ(::lstat(folder_.path("link.txt").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
}

TEST_F(IniAtomicSave, SavedFileLoadsBackTheSame) {
    ASSERT_EQ(store_.save(path()), 1);
    IniStore again;
    ASSERT_EQ(again.load(path()), 1);
    EXPECT_EQ(render(again), "[general] prefixstr=" + std::string(5000, 'n'));
}

}  // namespace
}  // namespace vandora::testing
