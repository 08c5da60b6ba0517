// A stop by signal whose settings save fails: the service says so on standard error, keeps the
// settings in the user's state folder, names it, and exits 1.
#include <fcntl.h>
#include <mqueue.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

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
        service_ = fork();
        if (service_ == 0) {
            int fd = ::open(out().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            setenv("VANDORA_HOME", home().c_str(), 1);
            setenv("XDG_STATE_HOME", state().c_str(), 1);
            setenv("VANDORA_IPC_SUFFIX", suffix_.c_str(), 1);
            setenv("VANDORA_KEYBOARD", "none", 1);
            setenv("VANDORA_LOG", "stderr", 1);
            // No bus: the bus name may belong to another test's service on the test's bus.
            setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
            std::string program = std::string(VANDORA_BIN_DIR) + "/vandora";
            execl(program.c_str(), program.c_str(), "--simulate=model=0,barcode=3", "--headless",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    // Waits until the service's output holds `text`.
    bool waitForOutput(const std::string& text) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            if (slurp(out()).find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    int stop() {
        kill(service_, SIGTERM);
        int status = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            if (waitpid(service_, &status, WNOHANG) == service_) {
                service_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -2;
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
    ASSERT_TRUE(waitForOutput("barcode engine 3 at")) << slurp(out());
    // The program folder becomes unwritable: it goes away and a plain file takes its place.
    fs::rename(home(), root_ / "gone");
    std::ofstream(home()) << "not a folder";

    EXPECT_EQ(stop(), 1);
    std::string said = slurp(out());
    std::string kept = (state() / "vandora" / "VandoraINI.txt").string();
    EXPECT_NE(said.find("Unable to write the INI file " + home().string() + "/VandoraINI.txt"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("The settings were kept in " + kept), std::string::npos) << said;
    std::string settings = narrowed(slurp(kept));
    EXPECT_NE(settings.find("[barcode reader 2d]\r\nhas2d=1"), std::string::npos) << settings;
    EXPECT_NE(settings.find("windowevent=1"), std::string::npos) << settings;
}

}  // namespace
