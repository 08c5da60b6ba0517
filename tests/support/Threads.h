#pragma once

#include <cstddef>
#include <filesystem>
#include <system_error>
#include <thread>

namespace vandora::testing {

// Threads of this process, as the kernel lists them. A sanitizer may start a helper thread of its
// own with the process's first new thread (ThreadSanitizer does), so one thread comes and goes
// before the first count: the counts then differ only by the threads under test.
inline std::size_t threadCount() {
    static const bool settled = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)settled;
    std::error_code ec;
    std::size_t count = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/task", ec);
         it != std::filesystem::directory_iterator(); ++it) {
        ++count;
    }
    return count;
}

}  // namespace vandora::testing
