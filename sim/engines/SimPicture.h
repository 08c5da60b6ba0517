// The picture a simulated 2D imager takes: a scene whose four quarters differ (red top left,
// green top right, blue bottom left, white bottom right, with a black bar along the top edge of
// the red quarter), so that a picture shown upside down or mirrored is told at once. The imager
// sits upside down in the terminals that turn its pictures, so it sends the scene turned by 180
// degrees.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/ImageCodec.h"

namespace vandora::sim {

constexpr int kSimPictureWidth = 160;
constexpr int kSimPictureHeight = 120;

// The upright scene.
Pixels simScene(int width = kSimPictureWidth, int height = kSimPictureHeight);
// The colour of the scene at a point, for tests.
void simSceneColour(int x, int y, int width, int height, std::uint8_t rgb[3]);
// The scene as the imager sends it: upside down, as BMP (bmp) or JPEG.
std::vector<std::uint8_t> simPicture(bool bmp, int width = kSimPictureWidth,
                                     int height = kSimPictureHeight);

}  // namespace vandora::sim
