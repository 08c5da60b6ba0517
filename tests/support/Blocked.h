// Whether another thread or a program the test started sits blocked in a given system call, read
// from /proc: how a test knows that the other side has reached the wait it means to test, instead
// of sleeping a while and hoping it has.
#pragma once

#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace vandora::testing {

// The calling thread's id, as /proc names it.
inline pid_t threadId() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// The system call the task (a thread of this process or a child process) is blocked in; -1 while
// it runs or when it cannot be read.
inline long blockedSyscall(pid_t task) {
    std::ifstream in("/proc/" + std::to_string(task) + "/syscall");
    long number = -1;
    if (!(in >> number)) {
        return -1;
    }
    return number;
}

// Polls until the task is blocked in the system call; false only when it never was within bound
// (a bound for a hang, never a wait: a working task gets there in milliseconds).
inline bool waitUntilBlockedIn(pid_t task, long syscallNumber,
                               std::chrono::seconds bound = std::chrono::seconds(60)) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (blockedSyscall(task) != syscallNumber) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace vandora::testing
