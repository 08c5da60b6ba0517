// Host cost of one RFID tag read of 48 bytes through each module kind: readTag from entry to
// return against simulated modules in virtual time, so the line time and the module's own delays
// pass at once and the wall time measured is the host's work (and the simulator's, which runs
// on the same thread: the figures are an upper bound). Beside the time, the bytes the host put on
// the wire per read, against the least that the module's command set needs for the same read
// (counters `wire_bytes` and `minimum_bytes`), and the bytes the module answered
// (`module_bytes`). The tail of the time per read is in `p50_us`, `p99_us` and `max_us`.
//
// The letter-command module and the binary link read a Mifare 1K tag (three data blocks of
// sector 1 after one login); the hexadecimal-frame module cannot read Mifare tags, so it reads
// 48 bytes (twelve blocks) of an ISO 15693 tag instead.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "SimulatedPort.h"
#include "engines/EngineModels.h"
#include "reader/ReaderManager.h"
#include "rfid/TagOps.h"
#include "rfid/link/RfidLink.h"

namespace {

using namespace vandora;

constexpr std::int32_t kReadLength = 48;
const ByteString kKey = "3C5A9E71B2D4";

struct Kind {
    EngineType type;
    const char* tag;
    std::int32_t model;
    // The least the host must send for the read, counted from the command set:
    // letters: "s", one login "l01AA" + 12 key digits, three "rb0n";
    // hex frames: the ISO 15693 inventory frame and twelve block-read frames, 22 characters each;
    // binary link (short framing with code, mode 1): protocol select and request A, 8 bytes each,
    // and three Mifare block reads of 15 bytes.
    std::size_t minimumBytes;
};

const Kind kKinds[] = {
    {EngineType::RfidAscii, "mifare", DeviceModel::HRT300CE, 1 + 17 + 3 * 4},
    {EngineType::RfidHex, "iso15693", DeviceModel::HRT300CE, 22 + 12 * 22},
    {EngineType::RfidBinaryLink, "mifare", DeviceModel::HRT400CE, 8 + 8 + 3 * 15},
};

// Counts what the host writes (the letter module's port lives only for one read) and what the
// module answers, and passes everything on to the module.
class WireCounter final : public sim::EngineModel, private sim::SimLink {
  public:
    explicit WireCounter(std::shared_ptr<sim::EngineSim> module) : module_(std::move(module)) {}
    void onHostBytes(const std::uint8_t* data, std::size_t size, std::uint32_t baud,
                     sim::SimLink& link) override {
        hostBytes += size;
        link_ = &link;
        module_->onHostBytes(data, size, baud, *this);
    }
    void onLines(bool rts, bool dtr, sim::SimLink& link) override {
        link_ = &link;
        module_->onLines(rts, dtr, *this);
    }
    void onOpen(sim::SimLink& link) override {
        link_ = &link;
        module_->onOpen(*this);
    }
    std::size_t hostBytes = 0;
    std::size_t moduleBytes = 0;

  private:
    std::uint64_t nowUs() override { return link_->nowUs(); }
    void send(const std::uint8_t* data, std::size_t size, std::uint64_t delayUs) override {
        moduleBytes += size;
        link_->send(data, size, delayUs);
    }
    void setCts(bool on) override { link_->setCts(on); }
    std::uint32_t baud() const override { return link_->baud(); }

    std::shared_ptr<sim::EngineSim> module_;
    sim::SimLink* link_ = nullptr;
};

void tagRead(benchmark::State& state) {
    const Kind& kind = kKinds[state.range(0)];
    VirtualClock clock;
    sim::SimulatedPortProvider ports(clock);
    ports.faultsFor(kRfidPort).noModemLines = true;
    auto module = sim::makeEngineModel(toNumber(kind.type), {});
    module->tagField()->clear();
    module->tagField()->place(*sim::sampleTag(kind.tag));
    auto counter = std::make_shared<WireCounter>(module);
    ports.attach(kRfidPort, counter);
    RfidLink link(ports, clock);
    ReaderPlatform platform;
    platform.clock = &clock;
    platform.ports = &ports;
    platform.rfidLink = &link;
    platform.registryPath = "/nonexistent";
    ReaderManager manager(platform);
    manager.setDeviceModel(kind.model);
    if (manager.openReader(kRfidPort, kind.type) == 0) {
        state.SkipWithError("the module did not open");
        return;
    }
    manager.rfidReady = 1;
    TagRead tag;
    // One read first: the hexadecimal module remembers the family that found the tag, as it
    // does between the reads of a working day.
    readTag(manager, -1, kReadLength, kKey, 0, tag);
    const std::size_t hostAtStart = counter->hostBytes;
    const std::size_t moduleAtStart = counter->moduleBytes;
    std::size_t reads = 0;
    std::vector<double> micros;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        std::int32_t ok = readTag(manager, -1, kReadLength, kKey, 0, tag);
        auto took = std::chrono::steady_clock::now() - start;
        state.PauseTiming();
        if (ok == 0 || tag.userData.length() != static_cast<std::size_t>(kReadLength)) {
            state.SkipWithError("read failed");
            return;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(took).count());
        ++reads;
        state.ResumeTiming();
    }
    state.counters["wire_bytes"] =
        reads != 0 ? static_cast<double>(counter->hostBytes - hostAtStart) / reads : 0;
    state.counters["module_bytes"] =
        reads != 0 ? static_cast<double>(counter->moduleBytes - moduleAtStart) / reads : 0;
    state.counters["minimum_bytes"] = static_cast<double>(kind.minimumBytes);
    if (!micros.empty()) {
        std::sort(micros.begin(), micros.end());
        auto at = [&](double q) {
            return micros[static_cast<std::size_t>(q * static_cast<double>(micros.size() - 1))];
        };
        state.counters["p50_us"] = at(0.5);
        state.counters["p99_us"] = at(0.99);
        state.counters["max_us"] = micros.back();
    }
    state.SetLabel(kind.tag);
}

}  // namespace

// Run with --benchmark_repetitions=N --benchmark_report_aggregates_only=false for the spread.
BENCHMARK(tagRead)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
