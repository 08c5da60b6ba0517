// Every engine model by type, for tools and tests: makeEngineModel(3, options) gives a 2D imager
// ready to sit behind a simulated port or a pseudo-terminal.
#pragma once

#include <memory>

#include "engines/CcdLaserModel.h"
#include "engines/EngineSim.h"
#include "engines/PacketEngineModel.h"
#include "engines/RfidLinkModel.h"
#include "engines/RfidModels.h"

namespace vandora::sim {

// The model of an engine type (2, 3, 4, 5, 6, 7, 8 or 9); null for any other type.
std::shared_ptr<EngineSim> makeEngineModel(int engineType, SimOptions options = {});

}  // namespace vandora::sim
