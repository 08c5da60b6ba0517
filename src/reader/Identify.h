// Engine identification and link set-up: which engine sits behind a freshly opened channel, and
// at which rate it talks.
#pragma once

#include <cstdint>

#include "reader/ReaderManager.h"

namespace vandora {

// Tries the candidates for the hint and terminal model; 1 when one answered (engineType and the
// port's rate are then final), else engineType 0 and 0.
std::int32_t identifyEngine(ReaderChannel& channel, EngineType hint);
// Tries the channel's current engineType at its rates.
std::int32_t probeEngine(ReaderChannel& channel);
// Sets the port to baud (not for the binary link) and sends the type's identification query.
std::int32_t queryEngine(ReaderChannel& channel, std::uint32_t baud);
// Commands the engine to a new rate; the port's own rate is left alone.
std::int32_t setEngineBaud(ReaderChannel& channel, std::uint32_t baud);

}  // namespace vandora
