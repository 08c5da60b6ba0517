// The shared rig with an engine model on port 1, driven with raw host bytes through a port of its
// own: what a test writes is what the engine hears, what it reads is what the engine said.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ScriptedModel.h"
#include "SimulatedPort.h"
#include "engines/EngineModels.h"
#include "platform/Clock.h"
#include "support/SimRig.h"

namespace vandora::sim::testing {

using Bytes = std::vector<std::uint8_t>;

using vandora::testing::ccdFrame;

inline Bytes text(const std::string& t) {
    return {t.begin(), t.end()};
}

inline const Bytes kAck = withChecksum({0x04, 0xD0, 0x00, 0x00});
inline const Bytes kRefusal = withChecksum({0x05, 0xD1, 0x00, 0x00, 0x01});
inline const Bytes kHostContinueAck = withChecksum({0x04, 0xD0, 0x04, 0x03});

struct Wire : vandora::testing::SimRig {
    static constexpr int kPort = 1;

    explicit Wire(int engineType, SimOptions options = {})
        : model(engine(kPort, engineType, std::move(options))),
          handle(ports.create(kPort)),
          port(*ports.lastPort(kPort)) {
        EXPECT_EQ(port.open(), 0);
        setBaud(model->currentBaud());
    }

    void setBaud(std::uint32_t baud) {
        PortSettings settings = port.settings();
        settings.baud = baud;
        EXPECT_EQ(port.setSettings(settings), 0);
    }

    void write(const Bytes& bytes) {
        std::size_t written = 0;
        ASSERT_EQ(port.write(bytes.data(), bytes.size(), written), 0);
    }

    // Everything the engine says until the line stays quiet for quietMs.
    Bytes collect(std::uint32_t quietMs = 100) {
        PortTimeouts timeouts;
        timeouts.readConstantMs = quietMs;
        EXPECT_EQ(port.setTimeouts(timeouts), 0);
        Bytes out;
        for (;;) {
            std::uint8_t buffer[512];
            std::size_t got = 0;
            EXPECT_EQ(port.read(buffer, sizeof buffer, got), 0);
            if (got == 0) {
                return out;
            }
            out.insert(out.end(), buffer, buffer + got);
        }
    }

    Bytes ask(const Bytes& bytes, std::uint32_t quietMs = 100) {
        write(bytes);
        return collect(quietMs);
    }

    std::shared_ptr<EngineSim> model;
    std::unique_ptr<SerialPort> handle;
    SimulatedPort& port;
};

}  // namespace vandora::sim::testing
