// Delivery of one decode: the queue record written and the event set, both bus signals (on a
// session bus when there is one), and the local-mode keystrokes of a 50-character decode into
// the log sink.
#include <benchmark/benchmark.h>
#include <mqueue.h>
#include <semaphore.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/Bus.h"
#include "platform/DecodeChannel.h"
#include "platform/KeyboardSink.h"
#include "runtime/DecodeFormat.h"
#include "runtime/DecodePublish.h"
#include "runtime/KeyboardEmulation.h"

namespace {

using namespace vandora;

void publishDecode(benchmark::State& state) {
    setenv("VANDORA_IPC_SUFFIX", (".bench" + std::to_string(getpid())).c_str(), 1);
    DecodeChannelWriter channel;
    Bus bus;
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    bool haveBus = address != nullptr && *address != '\0' && bus.open(false) == 0;
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

}  // namespace

BENCHMARK(publishDecode)->Unit(benchmark::kMicrosecond);
BENCHMARK(localKeystrokes)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
