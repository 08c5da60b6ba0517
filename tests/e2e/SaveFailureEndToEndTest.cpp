// A stop by signal whose settings save fails: the service says so on standard error, keeps the
// settings in the user's state folder, names it, and exits 1.
#include <mqueue.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/Programs.h"

namespace {

namespace fs = std::filesystem;

using vandora::testing::fileText;

// The settings text of a UTF-16 file as 8-bit text.
std::string narrowed(const std::string& utf16) {
    std::string text;
    for (std::size_t i = 2; i + 1 < utf16.size(); i += 2) {
        text.push_back(utf16[i]);
    }
    return text;
}

class SaveFailureEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("vandora-savefail-" + std::to_string(getpid()));
        fs::create_directories(home());
        suffix_ = ".savefail" + std::to_string(getpid());
    }
    void TearDown() override {
        if (service_ > 0) {
            kill(service_, SIGKILL);
            waitpid(service_, nullptr, 0);
        }
        mq_unlink(("/VandoraQueue" + suffix_).c_str());
        sem_unlink(("/DecodeEvent" + suffix_).c_str());
        fs::remove_all(root_);
    }

    fs::path home() const { return root_ / "home"; }
    fs::path state() const { return root_ / "state"; }
    fs::path out() const { return root_ / "service.out"; }

    void start() {
        std::string output = out().string();
        service_ = vandora::testing::launchProgram(
            {{vandora::testing::programPath("vandora"), "--simulate=model=0,barcode=3",
              "--headless"},
             output,
             output,
             {{"VANDORA_HOME", home().string()},
              {"XDG_STATE_HOME", state().string()},
              {"VANDORA_IPC_SUFFIX", suffix_},
              {"VANDORA_KEYBOARD", "none"},
              {"VANDORA_LOG", "stderr"},
              // No bus: the bus name may belong to another test's service on the test's bus.
              {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"}}});
    }
    // Waits until the service's output holds `text`.
    bool waitForOutput(const std::string& text) {
        return vandora::testing::eventually(
            [&] { return fileText(out()).find(text) != std::string::npos; },
            std::chrono::seconds(30));
    }
    // Its exit code; -2 when it still ran after the time (and was killed).
    int stop() {
        kill(service_, SIGTERM);
        int code = vandora::testing::waitExit(service_, std::chrono::seconds(30));
        service_ = -1;
        return code;
    }

    fs::path root_;
    std::string suffix_;
    pid_t service_ = -1;
};

TEST_F(SaveFailureEndToEnd, TheSettingsGoToTheStateFolderAndTheExitStatusIs1) {
    std::ofstream(home() / "VandoraINI.txt", std::ios::binary)
        << "[Barcode Reader 2D]\r\nhas2D=1\r\n[General]\r\nwindowEvent=1\r\n";
    start();
    // The engine found is logged once the file was read: only then may the folder go.
    ASSERT_TRUE(waitForOutput("barcode engine 3 at")) << fileText(out());
    // The program folder becomes unwritable: it goes away and a plain file takes its place.
    fs::rename(home(), root_ / "gone");
    std::ofstream(home()) << "not a folder";

    EXPECT_EQ(stop(), 1);
    std::string said = fileText(out());
    std::string kept = (state() / "vandora" / "VandoraINI.txt").string();
    EXPECT_NE(said.find("Unable to write the INI file " + home().string() + "/VandoraINI.txt"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("The settings were kept in " + kept), std::string::npos) << said;
    std::string settings = narrowed(fileText(kept));
    EXPECT_NE(settings.find("[barcode reader 2d]\r\nhas2d=1"), std::string::npos) << settings;
    EXPECT_NE(settings.find("windowevent=1"), std::string::npos) << settings;
}

}  // namespace
