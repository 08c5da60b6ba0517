// Picture capture with a 2D imager: snapshot mode, the trigger, reception of the picture over the
// link and, where the terminal model needs it, the turn by 180 degrees and the encoding in the
// format the picture is stored in.
//
// Locking: captureImage takes the barcode channel's lock around the reception itself; the
// trigger calls take it on their own.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/ImageCodec.h"
#include "reader/ReaderManager.h"

namespace vandora {

// Whether the terminal model has a rule for the imager's picture bytes (kept as they are, or
// turned and encoded); a model without one cannot store a picture.
bool pictureHandlingKnown(std::int32_t model);

// Takes one picture into `picture` (the file's bytes). format is the image file format the
// picture is stored in (the imager's parameter, as the settings hold it). progress, when given,
// receives 0, the reception's percentages up to 90, then 100. Fails at once on a terminal model
// without picture handling (the generic one included) and while the barcode reader is switched
// off; fails when the trigger does not start and when the picture does not arrive whole. On
// failure `picture` is left empty.
std::int32_t captureImage(ReaderManager& manager, std::vector<std::uint8_t>& picture,
                          std::uint32_t timeoutMs, PictureFormat format,
                          const std::function<void(int)>& progress);

// Turns a captured picture by 180 degrees and encodes it as format. out always receives the
// capture first, so that it holds the unconverted picture when the conversion fails (0).
std::int32_t convertImage(const std::vector<std::uint8_t>& raw, PictureFormat format,
                          std::vector<std::uint8_t>& out);

}  // namespace vandora
