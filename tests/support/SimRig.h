// A terminal in a box for tests: a clock (virtual, or the real one for tests that run threads),
// simulated ports with a scripted model or an engine model behind each, the engine-ready line, a
// recording binary link (or one the test gives) and a manager wired to them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ScriptedModel.h"
#include "SimulatedPort.h"
#include "engines/EngineModels.h"
#include "platform/Clock.h"
#include "reader/PortOps.h"
#include "reader/ReaderManager.h"

namespace vandora::testing {

// Binary link stand-in: answers from a queue of statuses and records the calls with their time.
class RecordingLink final : public RfidLinkApi {
  public:
    explicit RecordingLink(Clock& clock) : clock_(&clock) {}
    std::vector<std::uint8_t> openResults;  // consumed front to back; empty: 240
    std::uint8_t moduleInfoResult = 240;
    std::vector<std::string> calls;
    std::vector<std::uint64_t> callTimesMs;

    std::uint8_t linkOpen(int port, std::uint32_t baud, const std::string&, int mode,
                          std::uint32_t settleMs, std::uint32_t&) override {
        record("open " + std::to_string(port) + " " + std::to_string(baud) + " " +
               std::to_string(mode) + " " + std::to_string(settleMs));
        if (openResults.empty()) {
            return 240;
        }
        std::uint8_t r = openResults.front();
        openResults.erase(openResults.begin());
        return r;
    }
    std::uint8_t linkClose(int port) override {
        record("close " + std::to_string(port));
        return 0;
    }
    std::uint8_t linkSetState(int port, std::uint8_t value) override {
        record("state " + std::to_string(port) + " " + std::to_string(value));
        return 0;
    }
    std::uint8_t linkModuleInfo(int port, std::uint8_t*, std::uint8_t*) override {
        record("info " + std::to_string(port));
        return moduleInfoResult;
    }

  private:
    void record(std::string call) {
        calls.push_back(std::move(call));
        callTimesMs.push_back(clock_->nowMs());
    }
    Clock* clock_;
};

// A CCD/Laser command as it leaves the host: thirty 0xFF, ESC, the text, CR.
inline std::vector<std::uint8_t> ccdFrame(const std::string& text) {
    std::vector<std::uint8_t> frame(30, 0xFF);
    frame.push_back(0x1B);
    frame.insert(frame.end(), text.begin(), text.end());
    frame.push_back(0x0D);
    return frame;
}

template <class ClockType>
struct BasicSimRig {
    // rfidLink: the binary link the manager uses; null: the recording link of the rig.
    explicit BasicSimRig(std::int32_t model = DeviceModel::Unknown, RfidLinkApi* rfidLink = nullptr)
        : link(clock) {
        platform.clock = &clock;
        platform.ports = &ports;
        platform.readyLine = &ready;
        platform.rfidLink = rfidLink != nullptr ? rfidLink : &link;
        platform.registryPath = "/nonexistent/registry.ini";
        manager = std::make_unique<ReaderManager>(platform);
        manager->setDeviceModel(model);
    }

    std::shared_ptr<sim::ScriptedModel> script(int portNumber) {
        auto model = std::make_shared<sim::ScriptedModel>();
        ports.attach(portNumber, model);
        return model;
    }

    // An engine model of the type's number behind the port.
    std::shared_ptr<sim::EngineSim> engine(int portNumber, int engineType,
                                           sim::SimOptions options = {}) {
        auto model = sim::makeEngineModel(engineType, std::move(options));
        ports.attach(portNumber, model);
        return model;
    }

    // Opens the channel's port on whatever is attached, with the engine type given.
    ReaderChannel& openChannel(int portNumber, EngineType engineType) {
        ReaderChannel& channel = manager->channel(portNumber);
        channel.port = portNumber;
        channel.engineType = engineType;
        openPortForTest(channel);
        return channel;
    }

    // The same with the type's number, for tables of cases written in numbers.
    ReaderChannel& openChannel(int portNumber, std::int32_t typeNumber) {
        return openChannel(portNumber, EngineType(typeNumber));
    }

    sim::SimulatedPort& port(int portNumber) { return *ports.lastPort(portNumber); }
    std::uint64_t elapsedMs(std::uint64_t sinceMs) { return clock.nowMs() - sinceMs; }

    ClockType clock;
    sim::SimulatedPortProvider ports{clock};
    sim::SimEngineReadyLine ready{ports, 1};
    RecordingLink link;
    ReaderPlatform platform;
    std::unique_ptr<ReaderManager> manager;

  private:
    static void openPortForTest(ReaderChannel& channel) {
        ASSERT_EQ(openPort(channel), 1) << "lastError " << channel.lastError;
    }
};

// Single-threaded tests on virtual time.
using SimRig = BasicSimRig<VirtualClock>;
// Tests whose threads race for real.
using RealTimeSimRig = BasicSimRig<RealClock>;

}  // namespace vandora::testing
