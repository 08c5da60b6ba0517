// vandoractl type: a text through the keystroke sink the service would pick, with the exit codes
// of the command-line programs.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vandora {
namespace {

namespace fs = std::filesystem;

struct TypeCase {
    const char* name;
    std::vector<std::string> arguments;  // LOG: the test's keyboard log
    int exitCode;
    const char* logged;  // null: no log written
};

class TypeCommand : public ::testing::TestWithParam<TypeCase> {};

TEST_P(TypeCommand, TypesThroughTheSinkAndSaysHowItWent) {
    const TypeCase& c = GetParam();
    fs::path log =
        fs::temp_directory_path() / ("vandora-type-" + std::to_string(getpid()) + ".log");
    fs::remove(log);
    std::vector<std::string> arguments = {std::string(VANDORA_BIN_DIR) + "/vandoractl", "type"};
    for (const std::string& a : c.arguments) {
        arguments.push_back(a == "LOG" ? "log:" + log.string() : a);
    }
    pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (std::string& a : arguments) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        freopen("/dev/null", "w", stderr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.exitCode);
    if (c.logged == nullptr) {
        EXPECT_FALSE(fs::exists(log));
    } else {
        std::ifstream in(log);
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_EQ(text.str(), c.logged);
    }
    fs::remove(log);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TypeCommand,
    ::testing::Values(
        // Tab and line feed are key presses, as a decode's are; UTF-8 becomes code points.
        TypeCase{"TextWithKeys",
                 {"--keyboard", "LOG", "a\tb\xc3\xa9\n"},
                 0,
                 "post 1 61\nkey 9 0 0\nkey 9 0 2\npost 2 62 E9\nkey 10 0 0\nkey 10 0 2\n"},
        TypeCase{"Paced", {"--keyboard", "LOG", "--delay", "1", "ab"}, 0, "post 1 61\npost 1 62\n"},
        TypeCase{"NoSink", {"--keyboard", "none", "ab"}, 1, nullptr},
        TypeCase{"NoText", {"--keyboard", "LOG"}, 2, nullptr},
        TypeCase{"NotUtf8", {"--keyboard", "LOG", "\xff"}, 2, nullptr},
        TypeCase{"BadDelay", {"--keyboard", "LOG", "--delay", "-3", "ab"}, 2, nullptr}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace vandora
