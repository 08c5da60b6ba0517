// Host CPU time of one engine identification, per engine type, with the engine found at its
// working rate and at 9600 (then moved). The engine answers in virtual time, so the figure is the
// host's own work: framing, writes, byte reads and checks, not the waits.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "ScriptedModel.h"
#include "reader/Identify.h"
#include "reader/PortOps.h"

namespace {

using namespace vandora;
using sim::bytesOf;
using sim::withChecksum;
using Bytes = std::vector<std::uint8_t>;

Bytes revisionPacket(const std::string& text) {
    Bytes packet = {static_cast<std::uint8_t>(4 + text.size()), 0xA3, 0x00, 0x00};
    packet.insert(packet.end(), text.begin(), text.end());
    return withChecksum(packet);
}

struct Engine {
    std::int32_t type;
    std::int32_t port;
    Bytes query;
    Bytes answer;
};

Engine engineFor(std::int32_t type) {
    const Bytes revision = withChecksum({0x04, 0xA3, 0x04, 0x00});
    Bytes ccd(30, 0xFF);
    ccd.push_back(0x1B);
    for (char c : std::string("VER")) {
        ccd.push_back(static_cast<std::uint8_t>(c));
    }
    ccd.push_back(0x0D);
    Bytes laser955 = revisionPacket(std::string(16, '1'));
    laser955[15] = 0x98;
    laser955 = withChecksum(Bytes(laser955.begin(), laser955.end() - 2));
    switch (type) {
        case 2:
            return {2, 1, ccd, bytesOf("V1.00\r")};
        case 3:
            return {3, 1, revision, revisionPacket("REV A BP tail")};
        case 4:
            return {4, 1, revision, revisionPacket("REV A BG tail")};
        case 5:
            return {5, 2, bytesOf("v"), bytesOf("MultiISO 1.2\r\n")};
        case 6:
            return {6, 2, bytesOf("0108000304FE0000"), bytesOf("0A1B2C")};
        case 8:
            return {8, 1, revision, revisionPacket("xxPAAAA-12")};
        default:
            return {9, 1, revision, laser955};
    }
}

void identify(benchmark::State& state) {
    auto type = static_cast<std::int32_t>(state.range(0));
    bool at9600 = state.range(1) != 0;
    Engine engine = engineFor(type);
    VirtualClock clock;
    sim::SimulatedPortProvider ports(clock);
    ports.faultsFor(engine.port).noModemLines = true;
    auto model = std::make_shared<sim::ScriptedModel>();
    model->on(engine.query, engine.answer).baud = at9600 ? 9600 : 0;
    if (at9600) {
        // The rate command, answered at 9600 before the engine moves.
        model->onAny(type == 5 ? bytesOf("OK\r\n") : withChecksum({0x04, 0xD0, 0x00, 0x00})).baud =
            9600;
    }
    ports.attach(engine.port, model);
    ReaderPlatform platform;
    platform.clock = &clock;
    platform.ports = &ports;
    platform.registryPath = "/nonexistent";
    ReaderManager manager(platform);
    ReaderChannel& channel = manager.channel(engine.port);
    channel.port = engine.port;
    if (openPort(channel) == 0) {
        state.SkipWithError("open failed");
        return;
    }
    std::uint64_t virtualMs = 0;
    for (auto _ : state) {
        std::uint64_t start = clock.nowMs();
        std::int32_t found = identifyEngine(channel, EngineType(type));
        virtualMs += clock.nowMs() - start;
        if (found == 0) {
            state.SkipWithError("not identified");
            return;
        }
        model->frames.clear();
        model->frameBauds.clear();
        model->frameTimesUs.clear();
    }
    state.counters["virtual_ms"] =
        benchmark::Counter(static_cast<double>(virtualMs), benchmark::Counter::kAvgIterations);
}

}  // namespace

// Types 2 and 6 are only ever found at their working rate.
BENCHMARK(identify)
    ->ArgNames({"type", "at9600"})
    ->ArgsProduct({{2, 3, 4, 5, 6, 8, 9}, {0}})
    ->ArgsProduct({{3, 4, 5, 8, 9}, {1}})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
