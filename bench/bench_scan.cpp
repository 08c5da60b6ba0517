// Host latency of one triggered barcode read: scanBarcode from entry to return against an
// imager simulated in virtual time. The engine's decode delay and the bytes' time on the line
// pass in virtual time, so the wall time measured is the host's own work.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "ScriptedModel.h"
#include "reader/PortOps.h"
#include "reader/Scan.h"

namespace {

using namespace vandora;
using sim::withChecksum;
using Bytes = std::vector<std::uint8_t>;

// A decode of n bytes: one packet, or packets of 250 that continue after acknowledgements.
void scriptDecode(sim::ScriptedModel& model, std::size_t n) {
    const Bytes ok = withChecksum({0x04, 0xD0, 0x00, 0x00});
    const Bytes start = withChecksum({0x04, 0xE4, 0x04, 0x00});
    const Bytes stop = withChecksum({0x04, 0xE5, 0x04, 0x00});
    const Bytes ack = withChecksum({0x04, 0xD0, 0x04, 0x03});
    auto packet = [](std::size_t size, std::uint8_t status) {
        Bytes p = {static_cast<std::uint8_t>(5 + size), 0xF3, 0x00, status, 0x1B};
        p.resize(5 + size, 'd');
        return withChecksum(p);
    };
    std::size_t first = n < 250 ? n : 250;
    Bytes answer = ok;
    Bytes firstPacket = packet(first, n > first ? 2 : 0);
    answer.insert(answer.end(), firstPacket.begin(), firstPacket.end());
    auto& rule = model.on(start, answer);
    rule.delayUs = 50000;  // the engine's decode time
    for (std::size_t done = first; done < n; done += 250) {
        std::size_t size = n - done < 250 ? n - done : 250;
        model.on(ack, packet(size, done + size < n ? 2 : 0)).uses = 1;
    }
    model.on(stop, ok);
}

void triggeredRead(benchmark::State& state) {
    auto size = static_cast<std::size_t>(state.range(0));
    VirtualClock clock;
    sim::SimulatedPortProvider ports(clock);
    ports.faultsFor(1).noModemLines = true;
    ReaderPlatform platform;
    platform.clock = &clock;
    platform.ports = &ports;
    platform.registryPath = "/nonexistent";
    ReaderManager manager(platform);
    ReaderChannel& channel = manager.barcode;
    channel.port = 1;
    channel.engineType = EngineType::Imager2D;
    manager.barcodeReady = 1;
    Decode decode;
    for (auto _ : state) {
        state.PauseTiming();
        auto model = std::make_shared<sim::ScriptedModel>();
        scriptDecode(*model, size);
        ports.attach(1, model);
        closePort(channel);
        openPort(channel);
        setBaudRate(channel, 115200);
        state.ResumeTiming();
        if (scanBarcode(manager, decode, 3000) == 0 || decode.data.length() != size) {
            state.SkipWithError("read failed");
            return;
        }
    }
}

}  // namespace

// Run with --benchmark_repetitions=N for the median.
BENCHMARK(triggeredRead)->Arg(20)->Arg(500)->Arg(2000)->Arg(5000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
