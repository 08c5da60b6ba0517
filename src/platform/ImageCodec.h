// Picture codec of the capture: decodes the imager's BMP and JPEG files, turns a picture by 180
// degrees and encodes it again, on libjpeg-turbo (TurboJPEG) and stb_image / stb_image_write.
//
// Pictures arrive over the serial link and are untrusted: every size is checked before anything
// is allocated (at most kMaxPicturePixels), and a file the libraries reject is a failure, never a
// crash. Results are bool; nothing throws. Stateless: safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vandora {

enum class PictureFormat : std::uint8_t { Bmp, Jpeg };

// The imager's image file format parameter: 3 is BMP, any other value JPEG.
constexpr PictureFormat pictureFormatFor(std::int32_t imageFileFormat) {
    return imageFileFormat == 3 ? PictureFormat::Bmp : PictureFormat::Jpeg;
}
// ".bmp" or ".jpg".
const char* pictureExtension(PictureFormat format);

// Room for the imagers' largest picture (752 x 480) almost three times over. A picture comes off
// the serial link and is held decoded and turned at once, so a larger header is refused rather
// than given tens of megabytes on a handheld.
constexpr std::size_t kMaxPicturePixels = std::size_t{1024} * 1024;
static_assert(kMaxPicturePixels >= std::size_t{752} * 480);

// Red, green, blue per pixel, rows from the top.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    const std::uint8_t* at(int x, int y) const {
        return &rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                     static_cast<std::size_t>(x)) *
                    3];
    }
};

// What the file's first bytes say it is; false for anything else.
bool sniffPicture(const std::uint8_t* data, std::size_t size, PictureFormat& format);
bool decodePicture(const std::uint8_t* data, std::size_t size, Pixels& out);
// quality: JPEG quality 1 to 100 (BMP ignores it).
bool encodePicture(const Pixels& pixels, PictureFormat format, std::vector<std::uint8_t>& out,
                   int quality = 90);
void rotate180(Pixels& pixels);

// The picture turned upside down, encoded as format. A JPEG kept as JPEG is turned without loss
// when its size is a whole number of coding blocks; anything else is decoded, turned and encoded.
// On failure out is left empty.
bool rotatePicture180(const std::uint8_t* data, std::size_t size, PictureFormat format,
                      std::vector<std::uint8_t>& out);

}  // namespace vandora
