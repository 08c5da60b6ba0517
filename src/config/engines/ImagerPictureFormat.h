// The format a 2D imager's pictures are stored in: its image file format parameter, as the
// engine last accepted or reported it, else asked of the engine with the imager options' parameter
// request. It sits beside the packet commands, whose parameter table and cache it reads: the
// service's picture thread only calls it.
#pragma once

#include "config/EngineSettings.h"
#include "platform/ImageCodec.h"
#include "reader/ReaderManager.h"

namespace vandora {

// Takes the barcode channel's lock when it has to ask the engine.
PictureFormat imagerPictureFormat(ReaderManager& manager, EngineSettings& engine);

}  // namespace vandora
