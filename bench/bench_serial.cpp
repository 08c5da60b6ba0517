// CPU cost of receiving over a real terminal device: a pseudo-terminal that a writer thread keeps
// full, read one byte per call the way replies are read. The figure that matters is the reading
// thread's CPU time per received byte (counter cpu_ns_per_byte); the writer's work is not in it.
// A last benchmark checks that waiting on a silent port costs (next to) no CPU.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/TermiosSerialPort.h"
#include "reader/PortOps.h"
#include "reader/ReaderManager.h"

namespace {

using namespace vandora;

constexpr std::size_t kBytesPerIteration = 4096;

std::uint64_t threadCpuNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000'000ULL +
           static_cast<std::uint64_t>(ts.tv_nsec);
}

// The master side of a pseudo-terminal, kept full by a thread until stopped.
class FullSpeedSender {
  public:
    FullSpeedSender() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            return;
        }
        char name[128] = {};
        if (::ptsname_r(master_, name, sizeof name) == 0) {
            slave_ = name;
        }
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~FullSpeedSender() {
        stop();
        if (master_ >= 0) {
            ::close(master_);
        }
    }

    bool ok() const { return master_ >= 0 && !slave_.empty(); }
    const std::string& slavePath() const { return slave_; }

    void start() {
        thread_ = std::thread([this] { run(); });
    }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

  private:
    void run() {
        std::vector<std::uint8_t> chunk(4096);
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            chunk[i] = static_cast<std::uint8_t>(i);
        }
        while (!stop_) {
            ssize_t n = ::write(master_, chunk.data(), chunk.size());
            if (n >= 0 || errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN) {
                return;
            }
            // Full: wait for room, looking at the stop flag now and then.
            pollfd entry{master_, POLLOUT, 0};
            ::poll(&entry, 1, 50);
        }
    }

    int master_ = -1;
    std::string slave_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

void reportPerByte(benchmark::State& state, std::uint64_t cpuNs, std::uint64_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["cpu_ns_per_byte"] =
        bytes == 0 ? 0.0 : static_cast<double>(cpuNs) / static_cast<double>(bytes);
}

// One byte per read call straight on the port.
void portReadByte(benchmark::State& state) {
    FullSpeedSender sender;
    if (!sender.ok()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    TermiosSerialPort port(sender.slavePath());
    if (port.open() != 0) {
        state.SkipWithError("open failed");
        return;
    }
    PortTimeouts timeouts;
    timeouts.readConstantMs = 1000;
    port.setTimeouts(timeouts);
    sender.start();
    std::uint64_t bytes = 0;
    std::uint64_t cpuStart = threadCpuNs();
    for (auto _ : state) {
        for (std::size_t i = 0; i < kBytesPerIteration; ++i) {
            std::uint8_t byte = 0;
            std::size_t got = 0;
            if (port.read(&byte, 1, got) != 0 || got != 1) {
                state.SkipWithError("read failed or timed out");
                break;
            }
            benchmark::DoNotOptimize(byte);
            ++bytes;
        }
    }
    std::uint64_t cpuNs = threadCpuNs() - cpuStart;
    sender.stop();
    reportPerByte(state, cpuNs, bytes);
}
BENCHMARK(portReadByte)->Unit(benchmark::kMicrosecond);

// The same through a reader channel's readByte.
void channelReadByte(benchmark::State& state) {
    FullSpeedSender sender;
    if (!sender.ok()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    ReaderPlatform platform;
    ReaderManager manager(platform);
    ReaderChannel& channel = manager.channel(1);
    auto port = std::make_unique<TermiosSerialPort>(sender.slavePath());
    if (port->open() != 0) {
        state.SkipWithError("open failed");
        return;
    }
    channel.port = 1;
    channel.handle = std::move(port);
    setTimeout(channel, 'r', 1000);
    sender.start();
    std::uint64_t bytes = 0;
    std::uint64_t cpuStart = threadCpuNs();
    for (auto _ : state) {
        for (std::size_t i = 0; i < kBytesPerIteration; ++i) {
            std::uint8_t byte = 0;
            if (readByte(channel, byte) == 0) {
                state.SkipWithError("readByte failed");
                break;
            }
            benchmark::DoNotOptimize(byte);
            ++bytes;
        }
    }
    std::uint64_t cpuNs = threadCpuNs() - cpuStart;
    sender.stop();
    closePort(channel);
    reportPerByte(state, cpuNs, bytes);
}
BENCHMARK(channelReadByte)->Unit(benchmark::kMicrosecond);

// A 100 ms read on a silent line: the wall time passes, the CPU time should stay near zero.
void silentRead(benchmark::State& state) {
    FullSpeedSender sender;  // never started: the line stays silent
    if (!sender.ok()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    TermiosSerialPort port(sender.slavePath());
    if (port.open() != 0) {
        state.SkipWithError("open failed");
        return;
    }
    PortTimeouts timeouts;
    timeouts.readConstantMs = 100;
    port.setTimeouts(timeouts);
    for (auto _ : state) {
        std::uint8_t byte = 0;
        std::size_t got = 0;
        port.read(&byte, 1, got);
        benchmark::DoNotOptimize(got);
    }
}
BENCHMARK(silentRead)->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
