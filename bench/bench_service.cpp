// The resident service as other programs see it.
//
// triggerToRecord: the road of a read. `vandora --headless` drives a CCD/Laser engine simulated
// in this process behind a real pseudo-terminal, in real time, answering 50 ms after "ON". The
// trigger is posted over the session bus from this process's own connection and the record is
// taken with the client library, as any reader program takes it. For each trigger the engine's
// share is measured on the master side of the terminal (from reading the host's "ON" to the end
// of writing the decode) and taken off the whole time; what is left is the host's share. The
// service's CPU time per trigger counts every thread of it, from /proc.
//
// residentGrowth and idleService: resident memory over many triggers in simulation mode, and
// what an idle service costs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <mqueue.h>
#include <poll.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engines/EngineModels.h"
#include "platform/BusClient.h"
#include "vandora_client.h"

namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

constexpr std::uint64_t kDecodeDelayUs = 50000;

std::string binDir() {
    return fs::read_symlink("/proc/self/exe").parent_path().string();
}

std::uint64_t nowUs() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Steady::now().time_since_epoch())
            .count());
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

// User plus system CPU time of the whole process (threads that ended included), in ms.
double cpuMs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::size_t paren = text.rfind(')');
    if (paren == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(paren + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15) {
            ticks += std::atol(field.c_str());
        }
    }
    return static_cast<double>(ticks) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
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

double loadAverage() {
    std::ifstream in("/proc/loadavg");
    double one = 0;
    in >> one;
    return one;
}

double percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) {
        return 0;
    }
    auto at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}

// An engine model behind a pseudo-terminal that stamps, on its own side of the line, when the
// host's trigger command was read and when the decode's last byte was written. Answers go out
// whole once the model's delay has passed; a pseudo-terminal has no line time of its own.
class TimedPtyEngine : private vandora::sim::SimLink {
  public:
    explicit TimedPtyEngine(std::shared_ptr<vandora::sim::EngineSim> model)
        : model_(std::move(model)) {}
    ~TimedPtyEngine() override { stop(); }
    TimedPtyEngine(const TimedPtyEngine&) = delete;
    TimedPtyEngine& operator=(const TimedPtyEngine&) = delete;

    bool start() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[256] = {};
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
            ::ptsname_r(master_, name, sizeof name) != 0 || ::pipe2(wake_, O_CLOEXEC) != 0) {
            return false;
        }
        slavePath_ = name;
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        model_->onOpen(*this);
        thread_ = std::thread([this] { run(); });
        return true;
    }
    void stop() {
        if (thread_.joinable()) {
            char byte = 1;
            (void)!::write(wake_[1], &byte, 1);
            thread_.join();
        }
        for (int* fd : {&master_, &wake_[0], &wake_[1]}) {
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
        }
    }
    const std::string& slavePath() const { return slavePath_; }

    // The engine's time of the latest decode: from reading the trigger command to handing the
    // decode's last bytes to the line; 0 while that decode is not all written.
    std::uint64_t lastAnswerUs() {
        std::lock_guard<std::mutex> lock(mutex_);
        return decodeWrittenUs_ > triggerHeardUs_ ? decodeWrittenUs_ - triggerHeardUs_ : 0;
    }
    void forgetLast() {
        std::lock_guard<std::mutex> lock(mutex_);
        triggerHeardUs_ = 0;
        decodeWrittenUs_ = 0;
    }

  private:
    struct Burst {
        std::uint64_t dueUs = 0;
        bool decode = false;
        std::vector<std::uint8_t> bytes;
    };

    // SimLink, called by the model on the engine's thread under mutex_.
    std::uint64_t nowUs() override { return ::nowUs(); }
    void send(const std::uint8_t* data, std::size_t size, std::uint64_t delayUs) override {
        std::uint64_t due = ::nowUs() + delayUs;
        if (!out_.empty()) {
            due = std::max(due, out_.back().dueUs);
        }
        out_.push_back({due, false, std::vector<std::uint8_t>(data, data + size)});
    }
    void setCts(bool /*on*/) override {}
    std::uint32_t baud() const override { return baud_; }

    std::uint32_t hostBaud() const {
        termios tio{};
        if (::tcgetattr(master_, &tio) != 0) {
            return 0;
        }
        switch (::cfgetospeed(&tio)) {
            case B9600:
                return 9600;
            case B19200:
                return 19200;
            case B38400:
                return 38400;
            case B57600:
                return 57600;
            case B115200:
                return 115200;
            default:
                return 0;
        }
    }

    void run() {
        std::vector<std::uint8_t> buffer(8192);
        for (;;) {
            int timeoutMs = 200;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!out_.empty()) {
                    std::uint64_t now = ::nowUs();
                    timeoutMs = out_.front().dueUs <= now
                                    ? 0
                                    : static_cast<int>((out_.front().dueUs - now + 999) / 1000);
                }
            }
            pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(fds, 2, timeoutMs) < 0 && errno != EINTR) {
                return;
            }
            if ((fds[1].revents & POLLIN) != 0) {
                return;
            }
            if ((fds[0].revents & POLLIN) != 0) {
                ssize_t n = ::read(master_, buffer.data(), buffer.size());
                std::uint64_t heard = ::nowUs();
                if (n > 0) {
                    std::uint32_t baud = hostBaud();
                    std::lock_guard<std::mutex> lock(mutex_);
                    baud_ = baud;
                    unsigned before = model_->counters.decodes;
                    std::size_t queued = out_.size();
                    model_->onHostBytes(buffer.data(), static_cast<std::size_t>(n), baud, *this);
                    if (model_->counters.decodes != before) {
                        // The answers scheduled by this command belong to the decode.
                        triggerHeardUs_ = heard;
                        decodeWrittenUs_ = 0;
                        for (std::size_t i = queued; i < out_.size(); ++i) {
                            out_[i].decode = true;
                        }
                    }
                }
            } else if ((fds[0].revents & (POLLHUP | POLLERR)) != 0) {
                // Nobody has the slave side open yet.
                pollfd wake{wake_[0], POLLIN, 0};
                (void)::poll(&wake, 1, 20);
                continue;
            }
            flushDue();
        }
    }

    void flushDue() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!out_.empty() && out_.front().dueUs <= ::nowUs()) {
            Burst burst = std::move(out_.front());
            out_.pop_front();
            lock.unlock();
            std::size_t at = 0;
            std::uint64_t written = 0;
            while (at < burst.bytes.size()) {
                // The host can have the bytes as soon as the call starts: the stamp goes first.
                written = ::nowUs();
                ssize_t n = ::write(master_, burst.bytes.data() + at, burst.bytes.size() - at);
                if (n > 0) {
                    at += static_cast<std::size_t>(n);
                } else if (n < 0 && errno == EAGAIN) {
                    pollfd out{master_, POLLOUT, 0};
                    (void)::poll(&out, 1, 100);
                } else {
                    break;
                }
            }
            lock.lock();
            if (burst.decode) {
                decodeWrittenUs_ = written;
            }
        }
    }

    std::shared_ptr<vandora::sim::EngineSim> model_;
    std::mutex mutex_;
    std::deque<Burst> out_;
    std::uint32_t baud_ = 9600;
    std::uint64_t triggerHeardUs_ = 0;
    std::uint64_t decodeWrittenUs_ = 0;
    int master_ = -1;
    int wake_[2] = {-1, -1};
    std::string slavePath_;
    std::thread thread_;
};

// A service started with a home folder, private IPC names and the environment given; stopped,
// its names unlinked and its folder removed at the end.
class ServiceRun {
  public:
    ServiceRun(const std::string& tag, const std::string& ini, const std::vector<std::string>& args,
               const std::vector<std::pair<std::string, std::string>>& env) {
        home_ = fs::temp_directory_path() / ("vandora-bench-" + tag + std::to_string(getpid()));
        fs::create_directories(home_);
        std::ofstream(home_ / "VandoraINI.txt", std::ios::binary) << ini;
        suffix_ = "." + tag + std::to_string(getpid());
        setenv("VANDORA_IPC_SUFFIX", suffix_.c_str(), 1);
        pid_ = fork();
        if (pid_ == 0) {
            setenv("VANDORA_HOME", home_.c_str(), 1);
            setenv("VANDORA_KEYBOARD", "none", 1);
            setenv("VANDORA_REGISTRY", "/nonexistent", 1);
            for (const auto& [name, value] : env) {
                setenv(name.c_str(), value.c_str(), 1);
            }
            int devNull = ::open("/dev/null", O_RDWR);
            dup2(devNull, STDIN_FILENO);
            dup2(devNull, STDOUT_FILENO);
            dup2(devNull, STDERR_FILENO);
            std::string program = binDir() + "/vandora";
            std::vector<char*> argv{program.data()};
            std::vector<std::string> copy = args;
            for (std::string& a : copy) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
    }
    ~ServiceRun() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        mq_unlink(("/VandoraQueue" + suffix_).c_str());
        sem_unlink(("/DecodeEvent" + suffix_).c_str());
        unsetenv("VANDORA_IPC_SUFFIX");
        std::error_code ec;
        fs::remove_all(home_, ec);
    }
    ServiceRun(const ServiceRun&) = delete;
    ServiceRun& operator=(const ServiceRun&) = delete;

    pid_t pid() const { return pid_; }

  private:
    fs::path home_;
    std::string suffix_;
    pid_t pid_ = -1;
};

bool haveSessionBus(benchmark::State& state) {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address == nullptr || *address == '\0') {
        state.SkipWithError("no session bus: run inside dbus-run-session");
        return false;
    }
    return true;
}

// The service answers on the bus once it is up; the engine is ready once a trigger gives a
// record.
bool waitForService(vandora::ReaderBusClient& bus) {
    std::string error;
    for (int i = 0; i < 200; ++i) {
        if (bus.callShow(error) == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool oneRead(vandora::ReaderBusClient& bus, vandora_client* client, vandora_decode& decode) {
    std::string error;
    bus.callPostMessage("WM_USER1DOWN", 0, 0, error);
    int got = vandora_client_wait(client, 5000, &decode);
    bus.callPostMessage("WM_USER1UP", 0, 0, error);
    return got == 1;
}

// Arguments: decode size in bytes, number of triggers, serial trace on (1) or off (0). The rows
// without trace are the yardstick of the ones with: tracing may add at most 5 % to the road.
void triggerToRecord(benchmark::State& state) {
    if (!haveSessionBus(state)) {
        return;
    }
    auto size = static_cast<std::size_t>(state.range(0));
    auto triggers = static_cast<int>(state.range(1));
    vandora::sim::SimOptions options;
    options.decodeDelayUs = kDecodeDelayUs;
    options.repeatDecodes = true;
    vandora::sim::SimDecode code;
    code.codeType = 'A';  // Code 39
    for (std::size_t i = 0; i < size; ++i) {
        code.data.push_back(static_cast<std::uint8_t>('0' + i % 10));
    }
    options.decodes.push_back(code);
    TimedPtyEngine engine(vandora::sim::makeEngineModel(2, options));
    if (!engine.start()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    std::vector<std::pair<std::string, std::string>> env = {{"VANDORA_COM1", engine.slavePath()}};
    std::string tracePath = std::filesystem::temp_directory_path() /
                            ("vandora-bench-trace-" + std::to_string(getpid()));
    if (state.range(2) != 0) {
        env.emplace_back("VANDORA_TRACE", tracePath);
    }
    ServiceRun service("road",
                       "[Barcode Reader CCD/Laser]\r\nhasCCD=1\r\n[General]\r\n"
                       "windowEvent=1\r\nkeyboardEmu=0\r\n",
                       {"--headless"}, env);
    vandora::ReaderBusClient bus;
    bus.open(false);
    vandora_client* client = vandora_client_open();
    vandora_decode decode{};
    // The first read also waits for the engine to be found and set up.
    bool up = client != nullptr && waitForService(bus);
    for (int i = 0; up && i < 50 && !oneRead(bus, client, decode); ++i) {
    }
    if (!up || decode.length != size) {
        state.SkipWithError("service or engine did not come up");
        vandora_client_close(client);
        return;
    }
    std::vector<double> hostMs;
    std::vector<double> engineMs;
    double cpuBefore = 0;
    double loadBefore = loadAverage();
    long residentBefore = residentKiB(service.pid());
    long switchesBefore = contextSwitches(service.pid());
    for (auto _ : state) {
        cpuBefore = cpuMs(service.pid());
        for (int i = 0; i < triggers; ++i) {
            // The service has settled after the previous release.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            engine.forgetLast();
            std::string error;
            auto start = Steady::now();
            bus.callPostMessage("WM_USER1DOWN", 0, 0, error);
            int got = vandora_client_wait(client, 5000, &decode);
            auto end = Steady::now();
            bus.callPostMessage("WM_USER1UP", 0, 0, error);
            // The engine's thread stamps its write once the call returns; the host may be faster.
            std::uint64_t answerUs = engine.lastAnswerUs();
            for (int wait = 0; answerUs == 0 && wait < 1000; ++wait) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                answerUs = engine.lastAnswerUs();
            }
            if (got != 1 || decode.length != size || answerUs == 0) {
                state.SkipWithError("a trigger gave no record");
                break;
            }
            double totalMs = std::chrono::duration<double, std::milli>(end - start).count();
            engineMs.push_back(static_cast<double>(answerUs) / 1000.0);
            hostMs.push_back(totalMs - engineMs.back());
        }
    }
    // The last release's work is part of the last trigger.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    double cpu = cpuMs(service.pid()) - cpuBefore;
    long residentAfter = residentKiB(service.pid());
    long switches = contextSwitches(service.pid()) - switchesBefore;
    vandora_client_close(client);
    std::filesystem::remove(tracePath);
    if (hostMs.empty()) {
        return;
    }
    // On a real port as in simulation, what a read allocates must be given back.
    state.counters["resident_KiB_start"] = static_cast<double>(residentBefore);
    state.counters["resident_KiB_end"] = static_cast<double>(residentAfter);
    state.counters["switches_per_trigger"] =
        static_cast<double>(switches) / static_cast<double>(hostMs.size());
    std::sort(hostMs.begin(), hostMs.end());
    std::sort(engineMs.begin(), engineMs.end());
    state.counters["host_p50_ms"] = percentile(hostMs, 0.50);
    state.counters["host_p90_ms"] = percentile(hostMs, 0.90);
    state.counters["host_p99_ms"] = percentile(hostMs, 0.99);
    state.counters["host_max_ms"] = hostMs.back();
    state.counters["host_min_ms"] = hostMs.front();
    state.counters["engine_p50_ms"] = percentile(engineMs, 0.50);
    state.counters["cpu_ms_per_trigger"] = cpu / static_cast<double>(hostMs.size());
    state.counters["triggers"] = static_cast<double>(hostMs.size());
    state.counters["load_1min"] = (loadBefore + loadAverage()) / 2;
}

// Resident memory of `vandora --simulate --headless` after the first reads and after N more.
void residentGrowth(benchmark::State& state) {
    if (!haveSessionBus(state)) {
        return;
    }
    auto triggers = static_cast<int>(state.range(0));
    ServiceRun service("mem", "[Barcode Reader 2D]\r\nhas2D=1\r\n[General]\r\nwindowEvent=1\r\n",
                       {"--simulate=model=0,barcode=3", "--headless"}, {});
    vandora::ReaderBusClient bus;
    bus.open(false);
    vandora_client* client = vandora_client_open();
    vandora_decode decode{};
    bool up = client != nullptr && waitForService(bus);
    for (int i = 0; up && i < 100; ++i) {
        up = oneRead(bus, client, decode);
    }
    if (!up) {
        state.SkipWithError("service did not come up");
        vandora_client_close(client);
        return;
    }
    long before = residentKiB(service.pid());
    long half = 0;
    for (auto _ : state) {
        for (int i = 0; i < triggers; ++i) {
            if (!oneRead(bus, client, decode)) {
                state.SkipWithError("a trigger gave no record");
                break;
            }
            if (i == triggers / 2) {
                half = residentKiB(service.pid());
            }
        }
    }
    long after = residentKiB(service.pid());
    vandora_client_close(client);
    state.counters["resident_KiB_start"] = static_cast<double>(before);
    state.counters["resident_KiB_half"] = static_cast<double>(half);
    state.counters["resident_KiB_end"] = static_cast<double>(after);
    state.counters["KiB_per_1000_triggers"] =
        static_cast<double>(after - before) * 1000.0 / std::max(triggers, 1);
}

void idleService(benchmark::State& state) {
    for (auto _ : state) {
        ServiceRun service("idle", "[Barcode Reader 2D]\r\nhas2D=1\r\n",
                           {"--simulate=model=0,barcode=3", "--headless"}, {});
        std::this_thread::sleep_for(std::chrono::seconds(3));
        long switches = contextSwitches(service.pid());
        double cpu = cpuMs(service.pid());
        std::this_thread::sleep_for(std::chrono::seconds(10));
        state.counters["wakeups_per_10s"] =
            static_cast<double>(contextSwitches(service.pid()) - switches);
        state.counters["cpu_ms_per_10s"] = cpuMs(service.pid()) - cpu;
        state.counters["resident_KiB"] = static_cast<double>(residentKiB(service.pid()));
    }
}

}  // namespace

// Decode size in bytes, triggers, serial trace.
BENCHMARK(triggerToRecord)
    ->Args({20, 1000, 0})
    ->Args({20, 1000, 1})
    ->Args({500, 1000, 0})
    ->Args({2000, 1000, 0})
    ->Args({2000, 1000, 1})
    ->Args({5000, 1000, 0})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK(residentGrowth)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(idleService)->Iterations(1)->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
