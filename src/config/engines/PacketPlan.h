// The packet engines' settings plan (2D imagers and 1D lasers): besides the family plan of
// SettingsPlan.h, the two steps that ready an engine for its default set.
#pragma once

#include <cstdint>

#include "config/engines/PacketCommands.h"
#include "reader/ReaderManager.h"

namespace vandora {

// The link set-up packet: scan mode, laser time and link options, built afresh each time.
std::int32_t sendLinkSetup(ReaderChannel& channel);

// Runs every read command that applies to the engine with all its arguments, filling the cache.
void readWholeEngine(ReaderChannel& channel, ParamCache& cache);

}  // namespace vandora
