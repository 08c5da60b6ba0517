// What a default set costs: bytes the host puts on the wire and host CPU time, per engine type,
// against the engine models in virtual time (the engine's answers take no real time).
#include <benchmark/benchmark.h>

#include <memory>

#include "config/EngineSettings.h"
#include "engines/EngineModels.h"
#include "reader/PortOps.h"

namespace {

using namespace vandora;

void defaultSet(benchmark::State& state) {
    auto type = static_cast<std::int32_t>(state.range(0));
    VirtualClock clock;
    sim::SimulatedPortProvider ports(clock);
    ports.faultsFor(1).noModemLines = true;
    auto model = sim::makeEngineModel(type);
    ports.attach(1, model);
    ReaderPlatform platform;
    platform.clock = &clock;
    platform.ports = &ports;
    platform.registryPath = "/nonexistent";
    // Opened without settings, so that the first default set meets the engine's factory state.
    ReaderManager manager(platform);
    if (manager.openReader(1, EngineType(type)) == 0) {
        state.SkipWithError("engine not found");
        return;
    }
    EngineSettings engine;
    ports.lastPort(1)->clearHostBytes();
    engine.applyDefaults(manager, 1);
    // The long-range laser reopens its port during the set; its figure counts the bytes after the
    // reopen (all but the 6-byte defaults packet).
    double firstBytes = static_cast<double>(ports.lastPort(1)->hostBytes().size());
    for (auto _ : state) {
        engine.paramCache().reset();
        engine.applyDefaults(manager, 1);
    }
    state.counters["wire_bytes"] = firstBytes;
}

}  // namespace

BENCHMARK(defaultSet)
    ->ArgName("type")
    ->Arg(2)
    ->Arg(3)
    ->Arg(4)
    ->Arg(8)
    ->Arg(9)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
