// What a person sees from the programs when something is wrong: the exit status, the words that
// say why, and no page of help. Each case runs the built program with standard output and
// standard error joined, as a terminal shows them.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/Programs.h"

namespace {

struct Output {
    int exitCode = -1;
    std::string text;  // standard output and standard error
};

// Runs a program of the build to its end (killed after 60 s), without a session bus unless
// withBus.
Output runJoined(std::vector<std::string> args, bool withBus) {
    args[0] = vandora::testing::programPath(args[0]);
    vandora::testing::Launch launch{std::move(args), {}, {}, {}};
    if (!withBus) {
        launch.environment.emplace_back("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
    }
    vandora::testing::ProgramRun run = vandora::testing::runProgram(std::move(launch), true);
    return {run.exitCode, run.out};
}

struct MessageCase {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> words;  // each must be in the output
    std::size_t maxLines;
    bool needsBus = false;  // a session bus without a service on it
};

class CommandLineMessages : public ::testing::TestWithParam<MessageCase> {};

TEST_P(CommandLineMessages, SayWhyInFewLines) {
    const MessageCase& c = GetParam();
    if (c.needsBus) {
        const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        if (bus == nullptr || *bus == '\0') {
            GTEST_SKIP() << "no session bus: run inside dbus-run-session";
        }
    }
    Output out = runJoined(c.args, c.needsBus);
    EXPECT_EQ(out.exitCode, c.exitCode) << out.text;
    for (const std::string& word : c.words) {
        EXPECT_NE(out.text.find(word), std::string::npos) << "'" << word << "' in:\n" << out.text;
    }
    std::size_t lines =
        static_cast<std::size_t>(std::count(out.text.begin(), out.text.end(), '\n'));
    EXPECT_GE(lines, 1u) << "silent";
    EXPECT_LE(lines, c.maxLines) << out.text;
}

const char* const kTryVandora = "Try 'vandora --help'.";
const char* const kTryCtl = "Try 'vandoractl --help'.";
const char* const kTryDiag = "Try 'vandora-diag --help'.";

INSTANTIATE_TEST_SUITE_P(
    Programs, CommandLineMessages,
    ::testing::Values(
        // A port that does not open names the path and the system's reason; the result line
        // keeps the number for scripts.
        MessageCase{"DiagMissingPort",
                    {"vandora-diag", "scan", "--port", "/nonexistent"},
                    1,
                    {"/nonexistent", "No such file or directory", "noread error=2"},
                    2},
        MessageCase{"DiagNotASerialPort",
                    {"vandora-diag", "identify", "--port", "/dev/null", "--model", "0"},
                    1,
                    {"/dev/null", "not a serial port", "engine=0 error=25"},
                    2},
        // The firmware file is looked at before the port is opened and identified.
        MessageCase{"DiagMissingFirmwareFile",
                    {"vandora-diag", "firmware", "--port", "/nonexistent", "/nonexistent.shx"},
                    1,
                    {"/nonexistent.shx", "No such file or directory", "Uploading decoder fails."},
                    2},
        MessageCase{
            "DiagUnknownCommand", {"vandora-diag", "frobnicate"}, 2, {"frobnicate", kTryDiag}, 2},
        MessageCase{"DiagMissingPortOption", {"vandora-diag", "scan"}, 2, {"--port", kTryDiag}, 2},
        MessageCase{"DiagBadModel",
                    {"vandora-diag", "identify", "--port", "/x", "--model", "7"},
                    2,
                    {"0 to 5", kTryDiag},
                    2},
        // Options the service would have taken silently, or started on real ports with.
        MessageCase{"ServiceUnknownKeyboard",
                    {"vandora", "--keyboard", "bogus"},
                    2,
                    {"bogus", "uinput", kTryVandora},
                    2},
        MessageCase{"ServiceScaleWithoutScreenshots",
                    {"vandora", "--scale", "2"},
                    2,
                    {"--scale", "--screenshots", kTryVandora},
                    2},
        MessageCase{"ServiceModelOutOfRange",
                    {"vandora", "--simulate=model=9"},
                    2,
                    {"model=9", "0 to 5", kTryVandora},
                    2},
        MessageCase{"ServiceUnknownArgument",
                    {"vandora", "--frobnicate"},
                    2,
                    {"--frobnicate", kTryVandora},
                    2},
        // The pictures' folder is tried before the engines are looked for.
        MessageCase{"ScreenshotsIntoAFile",
                    {"vandora", "--screenshots", "/dev/null/pages", "--simulate"},
                    1,
                    {"/dev/null/pages", "Not a directory"},
                    1},
        MessageCase{"CtlUnknownKeyboard",
                    {"vandoractl", "type", "--keyboard", "bogus", "x"},
                    2,
                    {"bogus", kTryCtl},
                    2},
        MessageCase{"CtlListenTwoForms",
                    {"vandoractl", "listen", "--raw", "--json"},
                    2,
                    {"--raw", "--json", kTryCtl},
                    2},
        MessageCase{"CtlMissingCommand", {"vandoractl"}, 2, {"missing command", kTryCtl}, 2},
        MessageCase{"CtlImportUnreadable",
                    {"vandoractl", "config", "import", "/nonexistent.ini"},
                    1,
                    {"/nonexistent.ini", "No such file or directory"},
                    1},
        MessageCase{"CtlWithoutABus",
                    {"vandoractl", "status"},
                    1,
                    {"session bus", "DBUS_SESSION_BUS_ADDRESS"},
                    1},
        MessageCase{"CtlWithoutAService",
                    {"vandoractl", "post", "WM_USER1DOWN"},
                    1,
                    {"no Vandora service is running on the session bus", "ServiceUnknown"},
                    1,
                    true},
        MessageCase{"SimUnknownArgument",
                    {"vandora-sim", "--frobnicate"},
                    2,
                    {"--frobnicate", "Try 'vandora-sim --help'."},
                    2}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
