// The resident service as other programs see it.
//
// Absolute times do not compare between shared virtual machines, so every figure of a run is
// also given as a ratio to a yardstick measured in the same run, on the same service: the round
// trip of org.freedesktop.DBus.Peer.Ping called on the service from this process's own bus
// connection (its p50), and the service's CPU time that one ping costs. Two kinds of ping are
// made: settled ones, each after the same idle pause as a trigger, so that each wakes the service
// as a trigger's press does (the `_pings` figures), and rapid ones, one right after the other
// (the `_rapid_pings` figures). On a virtual machine a thread woken after a pause costs much more
// than one woken again at once, so the two differ by a factor of two to four.
//
// triggerToRecord: the road of a read. `vandora --headless` drives a CCD/Laser engine simulated
// in this process behind a real pseudo-terminal, in real time, answering 50 ms after "ON". The
// trigger is posted over the session bus from this process's own connection and the record is
// taken with the client library, as any reader program takes it. For each trigger the engine's
// share is measured on the master side of the terminal (from reading the host's "ON" to the end
// of writing the decode) and taken off the whole time; what is left is the host's share. Also
// measured: how long PostMessage takes to be answered, the service's CPU time per trigger (every
// thread, from each thread's scheduler statistics), its context switches per trigger (voluntary
// and involuntary apart: involuntary ones grow with the machine's load), thread by thread, and
// its resident memory before and after.
//
// syscallsPerTrigger: system calls of the service per trigger and per ping, counted by
// `strace -c -f` attached to it. Tracing slows every call down, so this run is kept apart and
// gives counts only, never times.
//
// residentGrowth and idleService: resident memory over many triggers in simulation mode, and
// what an idle service costs.
//
// VANDORA_BENCH_SERVICE names the service program to measure (default: the `vandora` beside this
// program), so that two builds can be measured by the same benchmark, one after the other.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <mqueue.h>
#include <poll.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engines/EngineModels.h"
#include "platform/Bus.h"
#include "platform/BusClient.h"
#include "platform/BusConnection.h"
#include "vandora_client.h"

namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;
using vandora::BusConnection;

constexpr std::uint64_t kDecodeDelayUs = 50000;

std::string binDir() {
    return fs::read_symlink("/proc/self/exe").parent_path().string();
}

std::string serviceProgram() {
    const char* chosen = std::getenv("VANDORA_BENCH_SERVICE");
    return chosen != nullptr && *chosen != '\0' ? std::string(chosen) : binDir() + "/vandora";
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

// One thread of the service: its name, context switches and time on the CPU so far.
struct ThreadSample {
    std::string name;
    long voluntary = 0;
    long involuntary = 0;
    std::uint64_t runNs = 0;
};

std::string firstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// Every live thread of the process by thread id. The scheduler's run time (schedstat) counts in
// nanoseconds; the clock ticks of stat would round a trigger's share away.
std::map<long, ThreadSample> sampleThreads(pid_t pid) {
    std::map<long, ThreadSample> out;
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        ThreadSample sample;
        sample.name = firstLine(task.path() / "comm");
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                sample.voluntary = std::atol(line.substr(line.find(':') + 1).c_str());
            } else if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                sample.involuntary = std::atol(line.substr(line.find(':') + 1).c_str());
            }
        }
        sample.runNs = std::strtoull(firstLine(task.path() / "schedstat").c_str(), nullptr, 10);
        out[std::atol(task.path().filename().c_str())] = sample;
    }
    return out;
}

// What the threads did between two samples, summed over the threads and by thread name (threads
// of one name added up). A thread that ended in between is missing from the later sample: its
// share is lost, which the whole-process CPU time (stat) beside it shows.
struct ThreadUse {
    long voluntary = 0;
    long involuntary = 0;
    double cpuUs = 0;
    std::map<std::string, ThreadSample> byName;
};

ThreadUse threadUse(const std::map<long, ThreadSample>& before,
                    const std::map<long, ThreadSample>& after) {
    ThreadUse use;
    for (const auto& [tid, now] : after) {
        ThreadSample then;
        if (auto it = before.find(tid); it != before.end()) {
            then = it->second;
        }
        ThreadSample& named = use.byName[now.name];
        named.name = now.name;
        named.voluntary += now.voluntary - then.voluntary;
        named.involuntary += now.involuntary - then.involuntary;
        named.runNs += now.runNs - then.runNs;
        use.voluntary += now.voluntary - then.voluntary;
        use.involuntary += now.involuntary - then.involuntary;
        use.cpuUs += static_cast<double>(now.runNs - then.runNs) / 1000.0;
    }
    return use;
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
            std::string program = serviceProgram();
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

// A ping of the service from the connection given; the round trip in ms, negative on failure.
double pingMs(BusConnection& connection) {
    sd_bus_error error{};
    sd_bus_message* reply = nullptr;
    auto start = Steady::now();
    int r = sd_bus_call_method(connection.handle(), vandora::kBusName, "/",
                               "org.freedesktop.DBus.Peer", "Ping", &error, &reply, "");
    auto end = Steady::now();
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return r < 0 ? -1.0 : std::chrono::duration<double, std::milli>(end - start).count();
}

// The time a trigger leaves the service to settle after the previous release; pings get the
// same, so that each finds the service as idle as a trigger does.
constexpr auto kSettle = std::chrono::milliseconds(5);

// The yardstick: round trips of pings and the service's CPU time they cost, added up over the
// rounds of a run.
struct Yardstick {
    std::vector<double> roundTripMs;
    double cpuUs = 0;
    long voluntary = 0;
    long involuntary = 0;
    int pings = 0;

    // settle: the pause before each ping; without it the pings follow one another, and the
    // service may still be awake for the next one.
    bool measure(BusConnection& connection, pid_t pid, int count, bool settle = true) {
        auto before = sampleThreads(pid);
        for (int i = 0; i < count; ++i) {
            if (settle) {
                std::this_thread::sleep_for(kSettle);
            }
            double ms = pingMs(connection);
            if (ms < 0) {
                return false;
            }
            roundTripMs.push_back(ms);
        }
        ThreadUse use = threadUse(before, sampleThreads(pid));
        cpuUs += use.cpuUs;
        voluntary += use.voluntary;
        involuntary += use.involuntary;
        pings += count;
        return true;
    }
    double p50Ms() const {
        std::vector<double> sorted = roundTripMs;
        std::sort(sorted.begin(), sorted.end());
        return percentile(sorted, 0.50);
    }
    double cpuUsPerPing() const { return pings > 0 ? cpuUs / pings : 0; }
};

// A service on a CCD/Laser engine behind a timed pseudo-terminal, up and giving records.
class RoadRig {
  public:
    RoadRig(std::size_t size, bool trace) : size_(size) {
        vandora::sim::SimOptions options;
        options.decodeDelayUs = kDecodeDelayUs;
        options.repeatDecodes = true;
        vandora::sim::SimDecode code;
        code.codeType = 'A';  // Code 39
        for (std::size_t i = 0; i < size; ++i) {
            code.data.push_back(static_cast<std::uint8_t>('0' + i % 10));
        }
        options.decodes.push_back(code);
        engine_ = std::make_unique<TimedPtyEngine>(vandora::sim::makeEngineModel(2, options));
        if (!engine_->start()) {
            error_ = "no pseudo-terminal";
            return;
        }
        std::vector<std::pair<std::string, std::string>> env = {
            {"VANDORA_COM1", engine_->slavePath()}};
        tracePath_ =
            fs::temp_directory_path() / ("vandora-bench-trace-" + std::to_string(getpid()));
        if (trace) {
            env.emplace_back("VANDORA_TRACE", tracePath_);
        }
        service_ = std::make_unique<ServiceRun>("road",
                                                "[Barcode Reader CCD/Laser]\r\nhasCCD=1\r\n"
                                                "[General]\r\nwindowEvent=1\r\nkeyboardEmu=0\r\n",
                                                std::vector<std::string>{"--headless"}, env);
        connection_.open(false);
        client_ = vandora_client_open();
        // The first read also waits for the engine to be found and set up.
        bool up = client_ != nullptr && waitForService(bus_);
        vandora_decode decode{};
        for (int i = 0; up && i < 50 && !oneRead(bus_, client_, decode); ++i) {
        }
        if (!up || decode.length != size) {
            error_ = "service or engine did not come up";
        }
    }
    ~RoadRig() {
        vandora_client_close(client_);
        std::error_code ec;
        fs::remove(tracePath_, ec);
    }
    RoadRig(const RoadRig&) = delete;
    RoadRig& operator=(const RoadRig&) = delete;

    const std::string& error() const { return error_; }
    pid_t pid() const { return service_->pid(); }
    BusConnection& connection() { return connection_; }

    struct Times {
        double hostMs = 0;
        double engineMs = 0;
        double downAnsweredMs = 0;
        double upAnsweredMs = 0;
    };
    // One trigger press and release after the settling pause; false when no record came.
    bool trigger(Times& times) {
        std::this_thread::sleep_for(kSettle);
        engine_->forgetLast();
        std::string error;
        vandora_decode decode{};
        auto start = Steady::now();
        bus_.callPostMessage("WM_USER1DOWN", 0, 0, error);
        auto answered = Steady::now();
        int got = vandora_client_wait(client_, 5000, &decode);
        auto end = Steady::now();
        bus_.callPostMessage("WM_USER1UP", 0, 0, error);
        auto upAnswered = Steady::now();
        // The engine's thread stamps its write once the call returns; the host may be faster.
        std::uint64_t answerUs = engine_->lastAnswerUs();
        for (int wait = 0; answerUs == 0 && wait < 1000; ++wait) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            answerUs = engine_->lastAnswerUs();
        }
        if (got != 1 || decode.length != size_ || answerUs == 0) {
            return false;
        }
        using Ms = std::chrono::duration<double, std::milli>;
        times.engineMs = static_cast<double>(answerUs) / 1000.0;
        times.hostMs = Ms(end - start).count() - times.engineMs;
        times.downAnsweredMs = Ms(answered - start).count();
        times.upAnsweredMs = Ms(upAnswered - end).count();
        return true;
    }

  private:
    std::size_t size_;
    std::unique_ptr<TimedPtyEngine> engine_;
    std::string tracePath_;
    std::unique_ptr<ServiceRun> service_;
    BusConnection connection_;
    vandora::ReaderBusClient bus_{connection_};
    vandora_client* client_ = nullptr;
    std::string error_;
};

std::vector<double> sortedCopy(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values;
}

void reportSpread(benchmark::State& state, const std::string& name, std::vector<double> ms,
                  double pingMs) {
    std::sort(ms.begin(), ms.end());
    for (auto [suffix, value] :
         {std::pair{"p50", percentile(ms, 0.50)}, std::pair{"p90", percentile(ms, 0.90)},
          std::pair{"p99", percentile(ms, 0.99)}, std::pair{"max", ms.back()}}) {
        state.counters[name + "_" + suffix + "_ms"] = value;
        state.counters[name + "_" + suffix + "_pings"] = pingMs > 0 ? value / pingMs : 0;
    }
}

// Arguments: decode size in bytes, number of triggers, serial trace on (1) or off (0). The rows
// without trace are the yardstick of the ones with: tracing may add at most 5 % to the road.
// The triggers run in rounds, each between two rounds of pings, so that the yardstick sees the
// same load as the triggers.
void triggerToRecord(benchmark::State& state) {
    if (!haveSessionBus(state)) {
        return;
    }
    auto size = static_cast<std::size_t>(state.range(0));
    auto triggers = static_cast<int>(state.range(1));
    RoadRig rig(size, state.range(2) != 0);
    if (!rig.error().empty()) {
        state.SkipWithError(rig.error().c_str());
        return;
    }
    constexpr int kRounds = 4;
    constexpr int kPingsPerRound = 100;
    Yardstick ping;
    // Pings one after another: a second yardstick, cheaper per ping, shown beside the first.
    Yardstick rapid;
    std::vector<double> hostMs;
    std::vector<double> downMs;
    std::vector<double> upMs;
    double engineMsSum = 0;
    ThreadUse use;
    double statCpuMs = 0;
    double loadBefore = loadAverage();
    long residentBefore = residentKiB(rig.pid());
    for (auto _ : state) {
        if (!ping.measure(rig.connection(), rig.pid(), kPingsPerRound)) {
            state.SkipWithError("the service did not answer a ping");
            return;
        }
        for (int round = 0; round < kRounds; ++round) {
            auto before = sampleThreads(rig.pid());
            double statBefore = cpuMs(rig.pid());
            for (int i = 0; i < triggers / kRounds; ++i) {
                RoadRig::Times times;
                if (!rig.trigger(times)) {
                    state.SkipWithError("a trigger gave no record");
                    return;
                }
                hostMs.push_back(times.hostMs);
                downMs.push_back(times.downAnsweredMs);
                upMs.push_back(times.upAnsweredMs);
                engineMsSum += times.engineMs;
            }
            // The last release's work is part of the last trigger.
            std::this_thread::sleep_for(kSettle);
            ThreadUse part = threadUse(before, sampleThreads(rig.pid()));
            statCpuMs += cpuMs(rig.pid()) - statBefore;
            use.voluntary += part.voluntary;
            use.involuntary += part.involuntary;
            use.cpuUs += part.cpuUs;
            for (const auto& [name, sample] : part.byName) {
                ThreadSample& named = use.byName[name];
                named.voluntary += sample.voluntary;
                named.involuntary += sample.involuntary;
                named.runNs += sample.runNs;
            }
            if (!ping.measure(rig.connection(), rig.pid(), kPingsPerRound) ||
                !rapid.measure(rig.connection(), rig.pid(), kPingsPerRound, false)) {
                state.SkipWithError("the service did not answer a ping");
                return;
            }
        }
    }
    long residentAfter = residentKiB(rig.pid());
    if (hostMs.empty()) {
        return;
    }
    auto n = static_cast<double>(hostMs.size());
    double pingP50 = ping.p50Ms();
    double pingCpu = ping.cpuUsPerPing();
    state.counters["ping_p50_ms"] = pingP50;
    state.counters["ping_cpu_us"] = pingCpu;
    state.counters["ping_switches"] =
        static_cast<double>(ping.voluntary + ping.involuntary) / ping.pings;
    double rapidP50 = rapid.p50Ms();
    double rapidCpu = rapid.cpuUsPerPing();
    state.counters["rapid_ping_p50_ms"] = rapidP50;
    state.counters["rapid_ping_cpu_us"] = rapidCpu;
    state.counters["host_p50_rapid_pings"] =
        rapidP50 > 0 ? percentile(sortedCopy(hostMs), 0.5) / rapidP50 : 0;
    state.counters["post_answered_p50_rapid_pings"] =
        rapidP50 > 0 ? percentile(sortedCopy(downMs), 0.5) / rapidP50 : 0;
    state.counters["cpu_rapid_pings_per_trigger"] = rapidCpu > 0 ? use.cpuUs / n / rapidCpu : 0;
    reportSpread(state, "host", hostMs, pingP50);
    reportSpread(state, "post_answered", downMs, pingP50);
    reportSpread(state, "release_answered", upMs, pingP50);
    state.counters["engine_mean_ms"] = engineMsSum / n;
    state.counters["cpu_us_per_trigger"] = use.cpuUs / n;
    state.counters["cpu_pings_per_trigger"] = pingCpu > 0 ? use.cpuUs / n / pingCpu : 0;
    state.counters["cpu_stat_us_per_trigger"] = statCpuMs * 1000.0 / n;
    state.counters["switches_vol_per_trigger"] = static_cast<double>(use.voluntary) / n;
    state.counters["switches_invol_per_trigger"] = static_cast<double>(use.involuntary) / n;
    state.counters["switches_per_trigger"] =
        static_cast<double>(use.voluntary + use.involuntary) / n;
    state.counters["resident_KiB_start"] = static_cast<double>(residentBefore);
    state.counters["resident_KiB_end"] = static_cast<double>(residentAfter);
    state.counters["triggers"] = n;
    state.counters["load_1min"] = (loadBefore + loadAverage()) / 2;
    // Thread by thread, for finding where the switches and the time go.
    std::fprintf(stderr, "  %-16s %10s %10s %12s   (per trigger, size %zu)\n", "thread",
                 "voluntary", "involunt.", "cpu_us", size);
    for (const auto& [name, sample] : use.byName) {
        std::fprintf(stderr, "  %-16s %10.2f %10.2f %12.1f\n", name.c_str(),
                     static_cast<double>(sample.voluntary) / n,
                     static_cast<double>(sample.involuntary) / n,
                     static_cast<double>(sample.runNs) / 1000.0 / n);
    }
}

// System calls counted by `strace -c -f` attached to the service while body runs; -1 when strace
// is missing or did not attach. The calls by name go to standard error.
long countSystemCalls(pid_t pid, const char* label, const std::function<void()>& body) {
    std::string out =
        fs::temp_directory_path() / ("vandora-bench-strace-" + std::to_string(getpid()));
    pid_t tracer = fork();
    if (tracer == 0) {
        int devNull = ::open("/dev/null", O_RDWR);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        std::string target = std::to_string(pid);
        execlp("strace", "strace", "-c", "-f", "-o", out.c_str(), "-p", target.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    // Attached once every thread of the service names a tracer.
    bool attached = false;
    for (int i = 0; i < 500 && !attached; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        attached = true;
        std::error_code ec;
        for (const auto& task :
             fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
            std::ifstream status(task.path() / "status");
            std::string line;
            while (std::getline(status, line)) {
                if (line.rfind("TracerPid:", 0) == 0 && std::atol(line.c_str() + 10) == 0) {
                    attached = false;
                }
            }
        }
        int rc = 0;
        if (waitpid(tracer, &rc, WNOHANG) == tracer) {
            return -1;
        }
    }
    if (attached) {
        body();
    }
    kill(tracer, SIGINT);
    waitpid(tracer, nullptr, 0);
    std::ifstream in(out);
    std::string line;
    long total = -1;
    std::fprintf(stderr, "  system calls, %s:\n", label);
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) {
            w.push_back(word);
        }
        if (w.size() >= 5 && std::isdigit(static_cast<unsigned char>(w[0][0])) != 0) {
            std::fprintf(stderr, "    %-20s %8s\n", w.back().c_str(), w[3].c_str());
            if (w.back() == "total") {
                total = std::atol(w[3].c_str());
            }
        }
    }
    fs::remove(out);
    return attached ? total : -1;
}

// Argument: decode size. A run of its own, apart from the timed one: tracing makes every call
// slower, and the service's road with it.
void syscallsPerTrigger(benchmark::State& state) {
    if (!haveSessionBus(state)) {
        return;
    }
    RoadRig rig(static_cast<std::size_t>(state.range(0)), false);
    if (!rig.error().empty()) {
        state.SkipWithError(rig.error().c_str());
        return;
    }
    constexpr int kPings = 200;
    constexpr int kTriggers = 100;
    for (auto _ : state) {
        long pings = countSystemCalls(rig.pid(), "pings", [&] {
            for (int i = 0; i < kPings; ++i) {
                std::this_thread::sleep_for(kSettle);
                pingMs(rig.connection());
            }
        });
        bool ok = true;
        long triggers = countSystemCalls(rig.pid(), "triggers", [&] {
            for (int i = 0; ok && i < kTriggers; ++i) {
                RoadRig::Times times;
                ok = rig.trigger(times);
            }
            std::this_thread::sleep_for(kSettle);
        });
        if (pings < 0 || triggers < 0 || !ok) {
            state.SkipWithError(ok ? "strace missing or not attached" : "a trigger gave no record");
            return;
        }
        state.counters["syscalls_per_ping"] = static_cast<double>(pings) / kPings;
        state.counters["syscalls_per_trigger"] = static_cast<double>(triggers) / kTriggers;
    }
}

// Resident memory of `vandora --simulate --headless` after the first reads, after 300 more, and
// after N more.
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
    long after300 = 0;
    long half = 0;
    for (auto _ : state) {
        for (int i = 0; i < triggers; ++i) {
            if (!oneRead(bus, client, decode)) {
                state.SkipWithError("a trigger gave no record");
                break;
            }
            if (i + 1 == 300) {
                after300 = residentKiB(service.pid());
            }
            if (i == triggers / 2) {
                half = residentKiB(service.pid());
            }
        }
    }
    long after = residentKiB(service.pid());
    vandora_client_close(client);
    state.counters["resident_KiB_start"] = static_cast<double>(before);
    state.counters["resident_KiB_300"] = static_cast<double>(after300);
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
    ->Args({20, 400, 0})
    ->Args({20, 400, 1})
    ->Args({500, 400, 0})
    ->Args({2000, 400, 0})
    ->Args({2000, 400, 1})
    ->Args({5000, 400, 0})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK(syscallsPerTrigger)->Arg(20)->Arg(5000)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(residentGrowth)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(idleService)->Iterations(1)->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
