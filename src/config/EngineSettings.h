// EngineSettings: what the program sends to an engine on its own account. Each time an engine is
// opened (and again on "Restore Defaults") it gets the program's default set, so that it starts
// from a known state before the user's stored settings are sent.
//
// It plugs into the reader manager as its EngineSetup: opening a channel applies the default set,
// closing the CCD/Laser channel writes the host-side check-digit options back into the engine.
// What each engine type gets is the data of its settings plan (engines/SettingsPlan.h).
#pragma once

#include <cstdint>

#include "config/engines/PacketCommands.h"
#include "config/engines/RfidSetup.h"
#include "reader/ReaderManager.h"

namespace vandora {

class EngineSettings : public EngineSetup {
  public:
    // which = 1: the barcode engine's default set; 2: the RFID module's. 1 on success.
    std::int32_t applyDefaults(ReaderManager& manager, std::int32_t which);

    std::int32_t applySettings(ReaderManager& manager, ReaderChannel& channel) override {
        return applyDefaults(manager, channel.port);
    }
    void restoreHostOptions(ReaderManager& manager, ReaderChannel& channel) override;

    ParamCache& paramCache() { return cache_; }

  private:
    std::int32_t barcodeDefaults(ReaderManager& manager);
    std::int32_t rfidDefaults(ReaderManager& manager);

    ParamCache cache_;
    HexSetupState hexSetup_;
};

}  // namespace vandora
