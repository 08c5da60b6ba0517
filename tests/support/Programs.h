// The built programs as the end-to-end tests run them: a program's path, starting one with its
// output in files, waiting for its end within a bound, running one to its end with its output
// read through a pipe, and polling for a condition. The bounds only stop a hung program; a
// working one ends long before.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/FileText.h"

namespace vandora::testing {

// A program of the build, by its file name.
inline std::string programPath(const std::string& name) {
    return std::string(VANDORA_BIN_DIR) + "/" + name;
}

// Polls until condition holds; false only when it never did within bound.
template <typename Condition>
bool eventually(Condition condition, std::chrono::seconds bound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// How a program is started. args[0] is its path.
struct Launch {
    std::vector<std::string> args;
    std::string outPath;  // standard output to this file; empty: the test's own
    std::string errPath;  // standard error to this file (the same as outPath: joined with it)
    // Set in the program's environment only; no value: removed from it.
    std::vector<std::pair<std::string, std::optional<std::string>>> environment;
};

namespace detail {
// In the child after fork: the environment, then the program; never returns.
[[noreturn]] inline void execLaunch(const Launch& launch) {
    for (const auto& [name, value] : launch.environment) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
    std::vector<char*> argv;
    for (const std::string& a : launch.args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

inline void redirect(const std::string& path, int fd) {
    int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, fd);
}

inline int exitCodeOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
}  // namespace detail

// Starts the program; its process id (-1 when fork failed).
inline pid_t launchProgram(const Launch& launch) {
    pid_t pid = fork();
    if (pid == 0) {
        if (!launch.outPath.empty()) {
            detail::redirect(launch.outPath, STDOUT_FILENO);
        }
        if (!launch.errPath.empty() && launch.errPath == launch.outPath) {
            dup2(STDOUT_FILENO, STDERR_FILENO);
        } else if (!launch.errPath.empty()) {
            detail::redirect(launch.errPath, STDERR_FILENO);
        }
        detail::execLaunch(launch);
    }
    return pid;
}

// Waits for the program's end: its exit code, -1 when a signal ended it.
inline int waitExit(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return detail::exitCodeOf(status);
}

// Waits up to bound for the program's end: its exit code, -1 when a signal ended it, -2 when it
// still ran at the bound and was killed.
inline int waitExit(pid_t pid, std::chrono::seconds bound) {
    int status = 0;
    if (eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; }, bound)) {
        return detail::exitCodeOf(status);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -2;
}

struct ProgramRun {
    int exitCode = -1;
    std::string out;  // standard output, with standard error when joined
};

// Runs the program to its end with its standard output (and standard error, when joinErrors)
// read through a pipe; killed when it is still writing after a minute.
inline ProgramRun runProgram(Launch launch, bool joinErrors) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return {};
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        if (joinErrors) {
            dup2(pipeFds[1], STDERR_FILENO);
        }
        close(pipeFds[0]);
        close(pipeFds[1]);
        detail::execLaunch(launch);
    }
    close(pipeFds[1]);
    ProgramRun run;
    char buffer[4096];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        run.out.append(buffer, static_cast<std::size_t>(n));
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            break;
        }
    }
    close(pipeFds[0]);
    run.exitCode = waitExit(pid);
    return run;
}

// The programs a test starts. Whatever way the test ends, each one still running is killed and
// reaped, so that a failed assertion leaves no service behind.
class Children {
  public:
    Children() = default;
    Children(const Children&) = delete;
    Children& operator=(const Children&) = delete;
    ~Children() {
        for (pid_t pid : running_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

    // Runs args[0] with its standard output and standard error in outPath.
    pid_t spawn(const std::vector<std::string>& args, const std::string& outPath) {
        pid_t pid = launchProgram({args, outPath, outPath, {}});
        if (pid > 0) {
            running_.push_back(pid);
        }
        return pid;
    }

    // The exit code; -1 when killed by a signal, -2 when it had to be killed after the time.
    int waitExit(pid_t pid, int seconds) {
        int code = testing::waitExit(pid, std::chrono::seconds(seconds));
        running_.erase(std::remove(running_.begin(), running_.end(), pid), running_.end());
        return code;
    }

  private:
    std::vector<pid_t> running_;
};

}  // namespace vandora::testing
