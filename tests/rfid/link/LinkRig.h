// The binary link against a simulated module on port 2, in virtual time: the real RfidLink, the
// simulated port it opens and the RfidLinkModel behind it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SimulatedPort.h"
#include "engines/RfidLinkModel.h"
#include "platform/Clock.h"
#include "rfid/link/RfidLink.h"

namespace vandora::testing {

using Bytes = std::vector<std::uint8_t>;

inline constexpr int kLinkPort = 2;

struct LinkRig {
    explicit LinkRig(int moduleMode = 1, sim::SimOptions options = {})
        : model(std::make_shared<sim::RfidLinkModel>(std::move(options))) {
        model->setLinkMode(moduleMode);
        ports.attach(kLinkPort, model);
    }

    // Opens the link as the system does, in the mode given.
    std::uint8_t open(int mode = 1, std::uint32_t baud = 19200, const std::string& password = "") {
        return link.linkOpen(kLinkPort, baud, password, mode, 550, actualBaud);
    }

    sim::SimulatedPort& port() { return *ports.lastPort(kLinkPort); }
    // What the host writes during f.
    template <class F>
    Bytes wireOf(F&& f) {
        port().clearHostBytes();
        f();
        return port().hostBytes();
    }

    VirtualClock clock;
    sim::SimulatedPortProvider ports{clock};
    std::shared_ptr<sim::RfidLinkModel> model;
    RfidLink link{ports, clock};
    std::uint32_t actualBaud = 0;
};

// Answers the module frames like its own: data after the echo; another echo; a status byte.
inline sim::LinkForcedAnswer withData(std::uint8_t command, Bytes data) {
    sim::LinkForcedAnswer forced;
    forced.command = command;
    forced.data = std::move(data);
    return forced;
}
inline sim::LinkForcedAnswer echoed(std::uint8_t command, std::uint8_t echo, Bytes data = {}) {
    sim::LinkForcedAnswer forced = withData(command, std::move(data));
    forced.echo = echo;
    return forced;
}
inline sim::LinkForcedAnswer withStatus(std::uint8_t command, std::uint8_t status,
                                        Bytes data = {}) {
    sim::LinkForcedAnswer forced = withData(command, std::move(data));
    forced.status = status;
    return forced;
}

// A module that never answers and notes the rate of every write.
class SilentRateRecorder final : public sim::EngineModel {
  public:
    void onHostBytes(const std::uint8_t* /*data*/, std::size_t /*size*/, std::uint32_t baud,
                     sim::SimLink& /*link*/) override {
        bauds.push_back(baud);
    }
    std::vector<std::uint32_t> bauds;
};

// Seed bytes that, with the password, give a code state whose step is 0 and whose counter
// gives the code c1 = 5, c0 = 0 before every frame.
inline std::array<std::uint8_t, 8> seedForCode5(const LinkPassword& p) {
    // Code state: step 0; counter bytes s4 = 1 (odd), s5 = 0, s6 = 4, s7 = 0: c1 = s6 ^ s4 = 5,
    // c0 = s7 ^ s5 = 0.
    return {static_cast<std::uint8_t>(1 ^ p[0]), p[1], p[2], p[3], p[0], p[1],
            static_cast<std::uint8_t>(4 ^ p[2]), p[3]};
}

}  // namespace vandora::testing
