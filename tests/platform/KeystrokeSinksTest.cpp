// The keystroke sinks: the choice by name, the log sink on files and FIFOs, and the virtual
// keyboard where /dev/uinput can be opened.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/KeyboardSink.h"
#include "support/FileText.h"

namespace vandora {
namespace {

namespace fs = std::filesystem;

// A folder of one test, removed afterwards.
class TempFolder {
  public:
    TempFolder() {
        static int counter = 0;
        path_ = fs::temp_directory_path() /
                ("vandora-keys-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(path_);
    }
    ~TempFolder() { fs::remove_all(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string file(const char* name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

using vandora::testing::fileText;

// The event node of the input device with this name, from sysfs; empty when there is none.
std::string eventNodeNamed(const std::string& name) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/class/input", ec)) {
        std::string node = entry.path().filename().string();
        if (node.rfind("event", 0) != 0) {
            continue;
        }
        std::ifstream in(entry.path() / "device" / "name");
        std::string deviceName;
        std::getline(in, deviceName);
        if (deviceName == name) {
            return "/dev/input/" + node;
        }
    }
    return {};
}

// The device itself: the keys of "yz@" on the German layout reach the kernel's input device.
TEST(UinputSink, TypesWhereTheDeviceCanBeOpened) {
    LayoutNames german;
    german.layout = "de";
    UinputKeyboardSink sink(german);
    if (!sink.ready()) {
        GTEST_SKIP() << "/dev/uinput cannot be opened here: the uinput sink was not tested";
    }
    std::string node = eventNodeNamed("Vandora keyboard");
    ASSERT_FALSE(node.empty()) << "the virtual keyboard is not among the input devices";
    int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        GTEST_SKIP() << node << " cannot be read here: the keys typed were not checked";
    }
    sink.postCharacters({'y', 'z', '@'});
    sink.keyEvent(13, 0, 0);
    sink.keyEvent(13, 0, KeyboardSink::kKeyUp);
    std::vector<std::pair<int, int>> keys;
    input_event event{};
    while (::read(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event)) {
        if (event.type == EV_KEY) {
            keys.emplace_back(event.code, event.value);
        }
    }
    ::close(fd);
    const std::vector<std::pair<int, int>> expected = {
        {KEY_Z, 1}, {KEY_Z, 0}, {KEY_Y, 1},        {KEY_Y, 0},     {KEY_RIGHTALT, 1},
        {KEY_Q, 1}, {KEY_Q, 0}, {KEY_RIGHTALT, 0}, {KEY_ENTER, 1}, {KEY_ENTER, 0}};
    EXPECT_EQ(keys, expected);
}

TEST(KeyboardSinks, AFifoNobodyReadsDropsTheKeysWithoutBlocking) {
    TempFolder folder;
    std::string path = folder.file("fifo");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    auto sink = makeKeyboardSink("log:" + path);
    // Nobody reads: the calls return (a blocking open would hang here) and drop their lines.
    sink->postCharacters({'x'});
    sink->keyEvent(9, 0, 0);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO was left as it was";
    int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    char buffer[256];
    EXPECT_LE(::read(reader, buffer, sizeof buffer), 0) << "no line was kept for a later reader";
    // With a reader the same calls arrive, one line each.
    sink->postCharacters({'x'});
    sink->keyEvent(9, 0, 0);
    ssize_t n = ::read(reader, buffer, sizeof buffer);
    ::close(reader);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), "post 1 78\nkey 9 0 0\n");
}

TEST(KeyboardSinks, AnUnwritableLogDropsTheKeys) {
    TempFolder folder;
    std::string path = folder.file("missing/keys.log");
    auto sink = makeKeyboardSink("log:" + path);
    ASSERT_NE(dynamic_cast<LogKeyboardSink*>(sink.get()), nullptr);
    sink->postCharacters({'x'});
    sink->keyEvent(9, 0, 0);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(fs::exists(folder.file("missing"))) << "no folder is made for the log";
}

struct ChoiceCase {
    const char* name;
    const char* requested;  // "LOG": log: and the test's file
    const char* env;        // $VANDORA_KEYBOARD; null: unset; "LOG" as above
    bool log;               // else the null sink
};

class KeyboardSinkChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(KeyboardSinkChoice, ByNameThenEnvironment) {
    const ChoiceCase& c = GetParam();
    TempFolder folder;
    std::string logName = "log:" + folder.file("keys.log");
    auto expand = [&](const char* value) {
        return std::string(value) == "LOG" ? logName : std::string(value);
    };
    std::optional<std::string> saved;
    if (const char* old = std::getenv("VANDORA_KEYBOARD")) {
        saved = old;
    }
    if (c.env != nullptr) {
        setenv("VANDORA_KEYBOARD", expand(c.env).c_str(), 1);
    } else {
        unsetenv("VANDORA_KEYBOARD");
    }
    auto sink = makeKeyboardSink(expand(c.requested));
    if (saved) {
        setenv("VANDORA_KEYBOARD", saved->c_str(), 1);
    } else {
        unsetenv("VANDORA_KEYBOARD");
    }
    ASSERT_NE(sink, nullptr);
    if (c.log) {
        ASSERT_NE(dynamic_cast<LogKeyboardSink*>(sink.get()), nullptr);
        sink->postCharacters({'A', 'b'});
        EXPECT_EQ(fileText(folder.file("keys.log")), "post 2 41 62\n");
    } else {
        EXPECT_NE(dynamic_cast<NullKeyboardSink*>(sink.get()), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, KeyboardSinkChoice,
                         ::testing::Values(ChoiceCase{"None", "none", nullptr, false},
                                           ChoiceCase{"Log", "LOG", nullptr, true},
                                           ChoiceCase{"NameBeforeEnvironment", "none", "LOG",
                                                      false},
                                           ChoiceCase{"EnvironmentWhenNoName", "", "LOG", true},
                                           ChoiceCase{"EnvironmentNone", "", "none", false},
                                           ChoiceCase{"LogWithoutPath", "log:", nullptr, false},
                                           ChoiceCase{"UnknownName", "bogus", nullptr, false}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace vandora
