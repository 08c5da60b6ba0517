// The whole road of a barcode read through the real programs: `vandora --simulate` on the test's
// session bus, a trigger posted with `vandoractl post`, the decode taken by `vandoractl listen`
// and typed into the keyboard log. Runs inside dbus-run-session; without a session bus it skips.
#include <fcntl.h>
#include <gtest/gtest.h>
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

namespace {

namespace fs = std::filesystem;

std::string bin(const char* name) {
    return std::string(VANDORA_BIN_DIR) + "/" + name;
}

pid_t spawn(const std::vector<std::string>& args, const std::string& outPath) {
    pid_t pid = fork();
    if (pid == 0) {
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int waitExit(pid_t pid, int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -2;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(ServiceEndToEnd, TriggerFromVandoractlReachesListenAndTheKeyboardLog) {
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (bus == nullptr || *bus == '\0') {
        GTEST_SKIP() << "no session bus: run inside dbus-run-session";
    }
    fs::path home = fs::temp_directory_path() / ("vandora-e2e-home-" + std::to_string(getpid()));
    fs::create_directories(home);
    std::ofstream(home / "VandoraINI.txt", std::ios::binary)
        << "[Barcode Reader 2D]\r\nhas2D=1\r\n[General]\r\nwindowEvent=1\r\nwindowMessage=1\r\n";
    fs::path keys = home / "keys.log";
    setenv("VANDORA_HOME", home.c_str(), 1);
    setenv("VANDORA_KEYBOARD", ("log:" + keys.string()).c_str(), 1);
    setenv("VANDORA_IPC_SUFFIX", (".e2e" + std::to_string(getpid())).c_str(), 1);

    pid_t service = spawn({bin("vandora"), "--simulate=model=0,barcode=3", "--headless"},
                          (home / "service.out").string());
    // The service is up once its bus name answers.
    bool up = false;
    for (int i = 0; i < 200 && !up; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pid_t show = spawn({bin("vandoractl"), "show"}, (home / "show.out").string());
        up = waitExit(show, 10) == 0;
    }
    ASSERT_TRUE(up) << slurp(home / "service.out");

    pid_t listen =
        spawn({bin("vandoractl"), "listen", "--count", "1"}, (home / "listen.out").string());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    pid_t post = spawn({bin("vandoractl"), "post", "WM_USER1DOWN"}, (home / "post.out").string());
    EXPECT_EQ(waitExit(post, 10), 0) << slurp(home / "post.out");
    EXPECT_EQ(waitExit(listen, 20), 0);
    EXPECT_EQ(slurp(home / "listen.out"), "kind=7 type=1 length=10 data=56414E444F52412D3339\n");

    pid_t unknown = spawn({bin("vandoractl"), "post", "WM_NOTHING"}, (home / "bad.out").string());
    EXPECT_EQ(waitExit(unknown, 10), 1);
    EXPECT_NE(slurp(home / "bad.out").find("org.vandora.Reader1.Error.UnknownMessage"),
              std::string::npos);

    // A second instance hands over to the first and ends.
    pid_t second =
        spawn({bin("vandora"), "--simulate", "--headless"}, (home / "second.out").string());
    EXPECT_EQ(waitExit(second, 20), 0);

    kill(service, SIGTERM);
    EXPECT_EQ(waitExit(service, 30), 0);
    EXPECT_EQ(slurp(keys), "post 10 56 41 4E 44 4F 52 41 2D 33 39\nkey 13 0 0\nkey 13 0 2\n");
    // A normal stop writes the settings back.
    EXPECT_NE(slurp(home / "VandoraINI.txt").size(), 0u);

    std::string suffix = std::getenv("VANDORA_IPC_SUFFIX");
    mq_unlink(("/VandoraQueue" + suffix).c_str());
    sem_unlink(("/DecodeEvent" + suffix).c_str());
    unsetenv("VANDORA_HOME");
    unsetenv("VANDORA_KEYBOARD");
    unsetenv("VANDORA_IPC_SUFFIX");
    fs::remove_all(home);
}

}  // namespace
