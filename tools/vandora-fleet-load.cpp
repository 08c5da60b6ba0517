// vandora-fleet-load: many simulated terminals against one local broker, to see how a fleet
// loads the broker and the service.
//
//   vandora-fleet-load [--terminals N] [--seconds S] [--interval-ms MS] [--keep]
//
// Starts Debian's mosquitto on a free loopback port, N headless `vandora --simulate` services
// (each with its own folders, queue names and no bus; a 1D laser scanning by itself, one decode
// every MS milliseconds) with [MQTT] pointed at it, and a subscriber that checks every
// terminal's sequence numbers. After S seconds it stops the services as the system does and
// reports decodes per second, the latency from the decode being made to the subscriber (p50,
// p99), and the CPU time and memory of the broker and of each service. Exit 0 when every
// terminal's decodes arrived complete and in order, 1 otherwise, 2 on bad arguments.
#include <arpa/inet.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <mqueue.h>
#include <netinet/in.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/DecodeChannel.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr const char* kBroker = "/usr/sbin/mosquitto";

const char* const kUsage =
    "usage: vandora-fleet-load [--terminals N] [--seconds S] [--interval-ms MS] [--keep]\n"
    "\n"
    "Runs N simulated terminals (default 20) for S seconds (default 30), each decoding every MS\n"
    "milliseconds (default 400), against a local mosquitto broker, checks that every decode\n"
    "arrives once and in order, and reports decodes per second, latency from decode to\n"
    "subscriber, and the CPU and memory of the broker and of each service. --keep leaves the\n"
    "folders (settings, outboxes, logs) in place.\n";

std::int64_t nowUnixMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// "2026-12-11T09:15:02.123Z" as milliseconds since 1970; -1 when it is not that.
std::int64_t parseIsoMs(const std::string& text) {
    std::tm tm{};
    int ms = 0;
    if (text.size() != 24 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &tm.tm_year, &tm.tm_mon,
                    &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &ms) != 7) {
        return -1;
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<std::int64_t>(timegm(&tm)) * 1000 + ms;
}

int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    (void)::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t size = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool accepts(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

pid_t spawn(const std::vector<std::string>& args, const std::string& log,
            const std::vector<std::pair<std::string, std::string>>& env) {
    pid_t pid = ::fork();
    if (pid == 0) {
        int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDOUT_FILENO);
        ::dup2(fd, STDERR_FILENO);
        for (const auto& [name, value] : env) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// CPU seconds (user and system) and resident memory (KiB) of a running process.
struct Usage {
    double cpuSeconds = 0;
    long rssKiB = 0;
};

Usage usageOf(pid_t pid) {
    Usage usage;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        unsigned long long utime = 0;
        unsigned long long stime = 0;
        // Fields from the state (3) on: utime is 14, stime 15.
        for (int i = 3; i <= 15 && (fields >> field); ++i) {
            if (i == 14) {
                utime = std::stoull(field);
            } else if (i == 15) {
                stime = std::stoull(field);
            }
        }
        usage.cpuSeconds =
            static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            usage.rssKiB = std::atol(line.c_str() + 6);
        }
    }
    return usage;
}

struct Terminal {
    std::vector<std::uint64_t> seqs;
};

struct Checker {
    std::mutex mutex;
    std::map<std::string, Terminal> terminals;
    std::vector<std::int64_t> latencies;
    bool measuring = false;
    std::uint64_t measured = 0;
};

double percentile(std::vector<std::int64_t> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return static_cast<double>(values[index]);
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "vandora-fleet-load: %s\nTry 'vandora-fleet-load --help'.\n",
                 message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int terminals = 20;
    int seconds = 30;
    int intervalMs = 400;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--keep") {
            keep = true;
            continue;
        }
        if (a != "--terminals" && a != "--seconds" && a != "--interval-ms") {
            return usageError("unknown argument '" + a + "'");
        }
        if (i + 1 == argc) {
            return usageError(a + " needs a number");
        }
        int value = std::atoi(argv[++i]);
        if (value <= 0) {
            return usageError(a + ": a positive number, not '" + std::string(argv[i]) + "'");
        }
        (a == "--terminals" ? terminals : a == "--seconds" ? seconds : intervalMs) = value;
    }
    if (::access(kBroker, X_OK) != 0) {
        std::fprintf(stderr, "vandora-fleet-load: %s: %s (install Debian's mosquitto)\n", kBroker,
                     std::strerror(errno));
        return 1;
    }
    std::string service = fs::read_symlink("/proc/self/exe").parent_path() / "vandora";
    char pattern[] = "/tmp/vandora-fleet-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("vandora-fleet-load: /tmp");
        return 1;
    }
    fs::path root = pattern;
    int port = freePort();
    std::ofstream(root / "broker.conf") << "listener " << port << " 127.0.0.1\n"
                                        << "allow_anonymous true\npersistence false\n"
                                        << "max_queued_messages 100000\n"
                                        << (::geteuid() == 0 ? "user root\n" : "");
    pid_t broker =
        spawn({kBroker, "-c", (root / "broker.conf").string()}, (root / "broker.log").string(), {});
    auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!accepts(port)) {
        if (Clock::now() > deadline) {
            std::fprintf(stderr, "vandora-fleet-load: the broker did not start: see %s\n",
                         (root / "broker.log").c_str());
            ::kill(broker, SIGKILL);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    Checker checker;
    mosquitto_lib_init();
    mosquitto* sub = mosquitto_new("fleet-checker", true, &checker);
    mosquitto_message_callback_set(sub, [](mosquitto*, void* self, const mosquitto_message* m) {
        auto* c = static_cast<Checker*>(self);
        std::int64_t arrived = nowUnixMs();
        std::string topic = m->topic;
        if (topic.size() < 7 || topic.compare(topic.size() - 7, 7, "/decode") != 0) {
            return;
        }
        Json json =
            Json::parse(static_cast<const char*>(m->payload),
                        static_cast<const char*>(m->payload) + m->payloadlen, nullptr, false);
        if (!json.is_object() || !json["seq"].is_number() || !json["time"].is_string()) {
            return;
        }
        std::lock_guard<std::mutex> lock(c->mutex);
        c->terminals[json.value("terminal", "")].seqs.push_back(json["seq"].get<std::uint64_t>());
        if (c->measuring) {
            ++c->measured;
            std::int64_t made = parseIsoMs(json["time"].get<std::string>());
            if (made > 0) {
                c->latencies.push_back(arrived - made);
            }
        }
    });
    mosquitto_connect(sub, "127.0.0.1", port, 30);
    mosquitto_subscribe(sub, nullptr, "vandora/+/decode", 1);
    mosquitto_loop_start(sub);

    std::vector<pid_t> services;
    for (int t = 1; t <= terminals; ++t) {
        std::string name = "t" + std::to_string(t);
        fs::path home = root / name / "home";
        fs::create_directories(home);
        std::ofstream(home / "VandoraINI.txt", std::ios::binary)
            << "[General]\r\nkeyboardEmu=0\r\n[Barcode Reader 1D_LR]\r\nhas1D_955=1\r\n"
               "scanMode=7\r\n[MQTT]\r\nenable=1\r\nbroker=mqtt://127.0.0.1:"
            << port << "\r\nclientId=" << name << "\r\n";
        services.push_back(
            spawn({service, "--headless",
                   "--simulate=model=5,barcode=9,decodeMs=" + std::to_string(intervalMs)},
                  (root / name / "service.log").string(),
                  {{"VANDORA_HOME", home.string()},
                   {"XDG_STATE_HOME", (root / name / "state").string()},
                   {"VANDORA_IPC_SUFFIX", ".fleet-" + name},
                   {"VANDORA_KEYBOARD", "none"},
                   {"VANDORA_REGISTRY", "/nonexistent"},
                   {"VANDORA_LOG", "stderr"},
                   // No bus: the terminals would meet as a second instance.
                   {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}}));
    }
    std::printf("%d terminals, one decode every %d ms each, broker on port %d, folders in %s\n",
                terminals, intervalMs, port, root.c_str());
    std::fflush(stdout);

    // Measured once every terminal has sent something: start-up (engine detection) is not load.
    deadline = Clock::now() + std::chrono::seconds(120);
    while (Clock::now() < deadline) {
        std::lock_guard<std::mutex> lock(checker.mutex);
        if (static_cast<int>(checker.terminals.size()) >= terminals) {
            checker.measuring = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::vector<Usage> before;
    before.reserve(services.size());
    for (pid_t pid : services) {
        before.push_back(usageOf(pid));
    }
    Usage brokerBefore = usageOf(broker);
    auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<Usage> after;
    after.reserve(services.size());
    for (pid_t pid : services) {
        after.push_back(usageOf(pid));
    }
    Usage brokerAfter = usageOf(broker);
    {
        std::lock_guard<std::mutex> lock(checker.mutex);
        checker.measuring = false;
    }
    for (pid_t pid : services) {
        ::kill(pid, SIGTERM);
    }
    int failedStops = 0;
    for (pid_t pid : services) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        failedStops += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
    }
    // What the broker still had on its way to the subscriber gets a moment to arrive.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    mosquitto_disconnect(sub);
    mosquitto_loop_stop(sub, false);
    mosquitto_destroy(sub);
    ::kill(broker, SIGTERM);
    ::waitpid(broker, nullptr, 0);

    int bad = 0;
    std::uint64_t duplicates = 0;
    std::uint64_t total = 0;
    for (int t = 1; t <= terminals; ++t) {
        std::string name = "t" + std::to_string(t);
        const std::vector<std::uint64_t>& seqs = checker.terminals[name].seqs;
        std::uint64_t next = 1;
        for (std::uint64_t seq : seqs) {
            if (seq == next) {
                ++next;
            } else if (seq < next) {
                ++duplicates;
            } else {
                std::printf("%s: decode %llu arrived before %llu\n", name.c_str(),
                            static_cast<unsigned long long>(seq),
                            static_cast<unsigned long long>(next));
                ++bad;
                break;
            }
        }
        if (next == 1) {
            std::printf("%s: no decode arrived\n", name.c_str());
            ++bad;
        }
        total += next - 1;
    }
    double serviceCpu = 0;
    long serviceRss = 0;
    for (std::size_t i = 0; i < services.size(); ++i) {
        serviceCpu += after[i].cpuSeconds - before[i].cpuSeconds;
        serviceRss = std::max(serviceRss, after[i].rssKiB);
    }
    std::printf("decodes: %llu in order from %d terminals, %llu duplicates\n",
                static_cast<unsigned long long>(total), terminals,
                static_cast<unsigned long long>(duplicates));
    std::printf("measured %.1f s: %.1f decodes/s at the subscriber\n", elapsed,
                static_cast<double>(checker.measured) / elapsed);
    std::printf("latency from decode made to subscriber: p50 %.0f ms, p99 %.0f ms\n",
                percentile(checker.latencies, 0.50), percentile(checker.latencies, 0.99));
    std::printf("broker: %.1f%% of a CPU, %ld KiB resident\n",
                100.0 * (brokerAfter.cpuSeconds - brokerBefore.cpuSeconds) / elapsed,
                brokerAfter.rssKiB);
    std::printf("each service: %.2f%% of a CPU on average, at most %ld KiB resident\n",
                100.0 * serviceCpu / elapsed / terminals, serviceRss);
    if (failedStops > 0) {
        std::printf("%d services did not stop cleanly (see their service.log)\n", failedStops);
    }
    if (!keep && bad == 0 && failedStops == 0) {
        fs::remove_all(root);
    }
    // Each terminal's queue and event outlive its service, as they do for any reader; left behind,
    // a few hundred of them use up the user's queue allowance.
    for (int t = 1; t <= terminals; ++t) {
        setenv("VANDORA_IPC_SUFFIX", (".fleet-t" + std::to_string(t)).c_str(), 1);
        mq_unlink(vandora::decodeQueueName().c_str());
        sem_unlink(vandora::decodeEventName().c_str());
    }
    unsetenv("VANDORA_IPC_SUFFIX");
    return bad == 0 && failedStops == 0 ? 0 : 1;
}
