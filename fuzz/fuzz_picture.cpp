// Drives the picture codec with arbitrary bytes as a captured picture: decoding, the turn in
// both formats and the conversion of a capture must end without reading or writing outside a
// buffer, without a huge allocation, and with a picture only when the input was one.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/ImageCodec.h"
#include "reader/ImageCapture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vandora::Pixels pixels;
    bool decoded = vandora::decodePicture(data, size, pixels);
    if (decoded && (pixels.width <= 0 || pixels.height <= 0 ||
                    pixels.rgb.size() != static_cast<std::size_t>(pixels.width) *
                                             static_cast<std::size_t>(pixels.height) * 3)) {
        std::abort();
    }
    for (vandora::PictureFormat format :
         {vandora::PictureFormat::Jpeg, vandora::PictureFormat::Bmp}) {
        std::vector<std::uint8_t> out;
        bool turned = vandora::rotatePicture180(data, size, format, out);
        vandora::PictureFormat got{};
        if (turned && (!vandora::sniffPicture(out.data(), out.size(), got) || got != format)) {
            std::abort();
        }
        if (!turned && !out.empty()) {
            std::abort();
        }
    }
    std::vector<std::uint8_t> raw(data, data + size);
    std::vector<std::uint8_t> converted;
    if (vandora::convertImage(raw, vandora::PictureFormat::Jpeg, converted) == 0 &&
        converted != raw) {
        std::abort();
    }
    return 0;
}
