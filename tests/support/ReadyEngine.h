// A simulated engine made ready the way the service's start does it: the manager opens the
// engine's port with openReader (the settle time, identification at the engine's rates, the
// set-up the manager is given) and the channel's ready flag is raised. Tests then start from the
// state the program reaches, instead of setting the channel's port, type and rate by hand.
//
// Barcode engines and the RFID modules on their own port (types 2, 3, 4, 5, 6, 8, 9). The clock is
// virtual and only the test's thread moves it (OwnerClock): the hexadecimal module's idle
// listener runs as after the start but never closes the port; it does take the activity signal
// of each tag operation.
#pragma once

#include <memory>

#include <gtest/gtest.h>

#include "reader/engines/EngineTable.h"
#include "support/OwnerClock.h"
#include "support/SimRig.h"

namespace vandora::testing {

struct ReadyEngine {
    // setup: what the manager sends to the engine once identified (the settings subsystem's
    // EngineSettings); null: nothing.
    explicit ReadyEngine(std::int32_t engineType, std::int32_t terminalModel = DeviceModel::Unknown,
                         sim::SimOptions options = {}, EngineSetup* setup = nullptr)
        : rig(terminalModel), port(engineInfo(EngineType(engineType)).port) {
        if (setup != nullptr) {
            rig.manager = std::make_unique<ReaderManager>(rig.platform, setup);
            rig.manager->setDeviceModel(terminalModel);
        }
        rig.ports.faultsFor(port).noModemLines = true;
        model = rig.engine(port, engineType, std::move(options));
        open(EngineType(engineType));
    }

    ReaderManager& manager() { return *rig.manager; }
    ReaderChannel& channel() { return rig.manager->channel(port); }
    // The model as its own class.
    template <class Model>
    Model& as() {
        return dynamic_cast<Model&>(*model);
    }

    BasicSimRig<OwnerClock> rig;
    int port;
    std::shared_ptr<sim::EngineSim> model;
    // How many frames the engine heard while it was made ready.
    std::size_t readyFrames = 0;

  private:
    void open(EngineType type) {
        ASSERT_EQ(rig.manager->openReader(port, type), 1) << "lastError " << channel().lastError;
        ASSERT_EQ(channel().engineType, type);
        (port == kRfidPort ? rig.manager->rfidReady : rig.manager->barcodeReady) = 1;
        readyFrames = model->log.size();
    }
};

}  // namespace vandora::testing
