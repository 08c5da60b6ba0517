// The set-up an RFID module gets each time it is opened (its "default set"), by the kind its plan
// row names.
#pragma once

#include <cstdint>

#include "reader/ReaderManager.h"

namespace vandora {

// The letter-command module: two register writes, each repeated until the module echoes the
// value, then its registers read into the channel's parameterImage. The port is closed after.
std::int32_t setUpAsciiModule(ReaderManager& manager, ReaderChannel& channel);

// The hex-text module's two set-up frames go out once per program run; the flags remember which
// were accepted.
struct HexSetupState {
    bool first = false;
    bool second = false;
};
std::int32_t setUpHexModule(ReaderManager& manager, ReaderChannel& channel, HexSetupState& state);

}  // namespace vandora
