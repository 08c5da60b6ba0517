// Delivery of one decode: the queue record written and the event set, both bus signals (on a
// session bus when there is one), and the local-mode keystrokes of a 50-character decode into
// the log sink. Typing cost per character on the virtual keyboard (events into /dev/null, on the
// German layout) and on XTest (needs $DISPLAY, for example under xvfb-run), and the end-to-end
// time of a 50-character decode from deliver until its last key, with interKeyDelay 0 and 5 ms.
#include <benchmark/benchmark.h>
#include <mqueue.h>
#include <semaphore.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/BusConnection.h"
#include "platform/BusObject.h"
#include "platform/DecodeChannel.h"
#include "platform/KeyboardSink.h"
#include "platform/x11/XTestKeyboardSink.h"
#include "runtime/DecodeFormat.h"
#include "runtime/DecodePublish.h"
#include "runtime/KeyboardEmulation.h"
#include "runtime/TypingThread.h"
#include "runtime/sinks/TypingSink.h"

#include <fcntl.h>

#include <algorithm>
#include <vector>

namespace {

using namespace vandora;

void publishDecode(benchmark::State& state) {
    setenv("VANDORA_IPC_SUFFIX", (".bench" + std::to_string(getpid())).c_str(), 1);
    DecodeChannelWriter channel;
    BusConnection connection;
    ReaderBusObject bus(connection);
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    bool haveBus = address != nullptr && *address != '\0' && connection.open(false) == 0;
    ByteString data("0123456789012345678901234567890123456789");
    PublishTargets targets{&channel, haveBus ? &bus : nullptr, true, true};
    for (auto _ : state) {
        DecodeQueueRecord record = barcodeRecord(0x1B, data);
        if (publishDecode(record, targets) == 0) {
            state.SkipWithError("queue write failed");
            break;
        }
    }
    state.counters["with_bus"] = haveBus ? 1 : 0;
    mq_unlink(decodeQueueName().c_str());
    sem_unlink(decodeEventName().c_str());
}

void localKeystrokes(benchmark::State& state) {
    std::string path = (std::filesystem::temp_directory_path() /
                        ("vandora-keys-" + std::to_string(getpid()) + ".log"))
                           .string();
    LogKeyboardSink sink(path);
    VirtualClock clock;
    ByteString text("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklm\r");
    for (auto _ : state) {
        emulateKeyboard(text, false, sink, clock);
    }
    std::filesystem::remove(path);
}

const char* const kFifty = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklm";

std::vector<std::uint32_t> fiftyCharacters() {
    std::string text = kFifty;
    return {text.begin(), text.end()};
}

void perCharacter(benchmark::State& state, KeyboardSink& sink) {
    std::vector<std::uint32_t> characters = fiftyCharacters();
    for (auto _ : state) {
        sink.postCharacters(characters);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(characters.size()));
    // Time per character: the reported time divided by 50; items_per_second says it directly.
}

void uinputPerCharacter(benchmark::State& state) {
    int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    LayoutNames names;
    names.layout = "de";
    UinputKeyboardSink sink(fd, names);
    perCharacter(state, sink);
    ::close(fd);
}

void xtestPerCharacter(benchmark::State& state) {
    XTestKeyboardSink sink;
    if (!sink.ready()) {
        state.SkipWithError("no X server with XTest ($DISPLAY)");
        return;
    }
    perCharacter(state, sink);
}

// From the decode handed to the typing sink until its last key left the (virtual) keyboard.
void decodeEndToEnd(benchmark::State& state) {
    int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    LayoutNames names;
    names.layout = "de";
    UinputKeyboardSink sink(fd, names);
    TypingThread thread(sink, RealClock::instance(), 0);
    TypingSink typing(thread);
    AppSettings settings;
    settings.interKeyDelay = static_cast<std::int32_t>(state.range(0));
    Decode decode;
    decode.codeTypeName = ByteString("Code 128");
    decode.data = ByteString(kFifty);
    Delivery delivery = deliveryOf(decode, false);
    for (auto _ : state) {
        typing.deliver(delivery, settings);
        thread.waitUntilDone();
    }
    ::close(fd);
}

double maxOf(const std::vector<double>& v) {
    return *std::max_element(v.begin(), v.end());
}

double p99Of(const std::vector<double>& v) {
    std::vector<double> sorted = v;
    std::sort(sorted.begin(), sorted.end());
    return sorted[static_cast<std::size_t>(0.99 * static_cast<double>(sorted.size() - 1))];
}

}  // namespace

BENCHMARK(uinputPerCharacter)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(20000)
    ->Repetitions(30)
    ->ReportAggregatesOnly(true)
    ->ComputeStatistics("p99", p99Of)
    ->ComputeStatistics("max", maxOf);
BENCHMARK(xtestPerCharacter)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(200)
    ->Repetitions(30)
    ->ReportAggregatesOnly(true)
    ->ComputeStatistics("p99", p99Of)
    ->ComputeStatistics("max", maxOf);
BENCHMARK(decodeEndToEnd)
    ->Arg(0)
    ->Arg(5)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(30)
    ->ReportAggregatesOnly(true)
    ->ComputeStatistics("p99", p99Of)
    ->ComputeStatistics("max", maxOf);
BENCHMARK(publishDecode)->Unit(benchmark::kMicrosecond);
BENCHMARK(localKeystrokes)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
