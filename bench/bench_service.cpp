// The resident service at rest: how often an idle service wakes up, the CPU it uses and its
// resident memory. Starts `vandora --simulate --headless` (a terminal with a 2D imager), lets it
// settle, then watches it for 10 s through /proc.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Bus.h"
#include "vandora_client.h"

namespace {

namespace fs = std::filesystem;

std::string binDir() {
    return fs::read_symlink("/proc/self/exe").parent_path().string();
}

// Context switches of every thread of the process.
long contextSwitches(pid_t pid) {
    long total = 0;
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                total += std::atol(line.substr(line.find(':') + 1).c_str());
            }
        }
    }
    return total;
}

// User plus system CPU time in clock ticks.
long cpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            utime = std::atol(field.c_str());
        } else if (i == 15) {
            stime = std::atol(field.c_str());
        }
    }
    return utime + stime;
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.substr(6).c_str());
        }
    }
    return 0;
}

void idleService(benchmark::State& state) {
    fs::path home = fs::temp_directory_path() / ("vandora-bench-" + std::to_string(getpid()));
    fs::create_directories(home);
    std::ofstream(home / "VandoraINI.txt") << "[Barcode Reader 2D]\r\nhas2D=1\r\n";
    for (auto _ : state) {
        pid_t pid = fork();
        if (pid == 0) {
            setenv("VANDORA_HOME", home.c_str(), 1);
            setenv("VANDORA_KEYBOARD", "none", 1);
            std::string program = binDir() + "/vandora";
            execl(program.c_str(), program.c_str(), "--simulate=model=0,barcode=3", "--headless",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::seconds(3));
        long switches = contextSwitches(pid);
        long ticks = cpuTicks(pid);
        std::this_thread::sleep_for(std::chrono::seconds(10));
        state.counters["wakeups_per_10s"] = static_cast<double>(contextSwitches(pid) - switches);
        state.counters["cpu_ms_per_10s"] =
            static_cast<double>(cpuTicks(pid) - ticks) * 1000.0 / sysconf(_SC_CLK_TCK);
        state.counters["resident_KiB"] = static_cast<double>(residentKiB(pid));
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    fs::remove_all(home);
}

// The whole road of one read: PostMessage "WM_USER1DOWN" over the bus in, the record out of the
// queue. The simulated imager takes 30 ms to decode and its bytes need their time on the line at
// 115200; both are taken off, so "host_ms" is the service's own share.
void triggerToDelivery(benchmark::State& state) {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address == nullptr || *address == '\0') {
        state.SkipWithError("no session bus: run inside dbus-run-session");
        return;
    }
    fs::path home = fs::temp_directory_path() / ("vandora-bench-road-" + std::to_string(getpid()));
    fs::create_directories(home);
    std::ofstream(home / "VandoraINI.txt")
        << "[Barcode Reader 2D]\r\nhas2D=1\r\n[General]\r\nwindowEvent=1\r\nkeyboardEmu=0\r\n";
    std::string suffix = ".road" + std::to_string(getpid());
    setenv("VANDORA_IPC_SUFFIX", suffix.c_str(), 1);
    pid_t pid = fork();
    if (pid == 0) {
        setenv("VANDORA_HOME", home.c_str(), 1);
        std::string program = binDir() + "/vandora";
        int devNull = ::open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        execl(program.c_str(), program.c_str(), "--simulate=model=0,barcode=3", "--headless",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    vandora::Bus bus;
    bus.open(false);
    std::string error;
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        up = bus.callShow(error) == 0;
    }
    vandora_client* client = vandora_client_open();
    // Decode delay plus about 47 bytes on the line (start, answers, decode, acknowledgement, stop).
    const double engineMs = 30.0 + 47 * 10.0 / 115200.0 * 1000.0;
    std::vector<double> hostMs;
    for (auto _ : state) {
        if (!up || client == nullptr) {
            state.SkipWithError("service did not start");
            break;
        }
        auto start = std::chrono::steady_clock::now();
        bus.callPostMessage("WM_USER1DOWN", 0, 0, error);
        vandora_decode decode;
        if (vandora_client_wait(client, 5000, &decode) != 1) {
            state.SkipWithError("no decode");
            break;
        }
        double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        hostMs.push_back(ms - engineMs);
        bus.callPostMessage("WM_USER1UP", 0, 0, error);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!hostMs.empty()) {
        std::sort(hostMs.begin(), hostMs.end());
        state.counters["host_ms_median"] = hostMs[hostMs.size() / 2];
    }
    vandora_client_close(client);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    fs::remove_all(home);
}

}  // namespace

BENCHMARK(triggerToDelivery)->Iterations(30)->Unit(benchmark::kMillisecond);
BENCHMARK(idleService)->Iterations(1)->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
