#include "engines/SimPicture.h"

namespace vandora::sim {

void simSceneColour(int x, int y, int width, int height, std::uint8_t rgb[3]) {
    bool left = x < width / 2;
    bool top = y < height / 2;
    std::uint8_t r = 255;
    std::uint8_t g = 255;
    std::uint8_t b = 255;
    if (top && left) {
        g = b = 0;
        if (y < height / 8) {
            r = 0;  // the bar
        }
    } else if (top) {
        r = b = 0;
    } else if (left) {
        r = g = 0;
    }
    rgb[0] = r;
    rgb[1] = g;
    rgb[2] = b;
}

Pixels simScene(int width, int height) {
    Pixels scene;
    scene.width = width;
    scene.height = height;
    scene.rgb.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            simSceneColour(
                x, y, width, height,
                &scene.rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                            static_cast<std::size_t>(x)) *
                           3]);
        }
    }
    return scene;
}

std::vector<std::uint8_t> simPicture(bool bmp, int width, int height) {
    Pixels scene = simScene(width, height);
    rotate180(scene);
    std::vector<std::uint8_t> out;
    encodePicture(scene, bmp ? PictureFormat::Bmp : PictureFormat::Jpeg, out, 95);
    return out;
}

}  // namespace vandora::sim
