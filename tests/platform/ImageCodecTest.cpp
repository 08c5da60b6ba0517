// The picture codec: turning a picture by 180 degrees in either format and both ways round, and
// refusing what is not a picture.
#include <gtest/gtest.h>

#include "engines/SimPicture.h"
#include "platform/ImageCodec.h"

namespace vandora::testing {
namespace {

TEST(ImageCodec, TurnsPicturesUpsideDownInBothFormats) {
    struct Case {
        int width;
        int height;
        PictureFormat from;
        PictureFormat to;
    };
    // 640 x 480 JPEG turns without loss; 160 x 120 has partial blocks and takes the long way.
    const Case cases[] = {{640, 480, PictureFormat::Jpeg, PictureFormat::Jpeg},
                          {160, 120, PictureFormat::Jpeg, PictureFormat::Jpeg},
                          {161, 97, PictureFormat::Bmp, PictureFormat::Bmp},
                          {160, 120, PictureFormat::Bmp, PictureFormat::Jpeg},
                          {64, 48, PictureFormat::Jpeg, PictureFormat::Bmp}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height);
        std::vector<std::uint8_t> upsideDown =
            sim::simPicture(c.from == PictureFormat::Bmp, c.width, c.height);
        std::vector<std::uint8_t> turned;
        ASSERT_TRUE(rotatePicture180(upsideDown.data(), upsideDown.size(), c.to, turned));
        PictureFormat format{};
        ASSERT_TRUE(sniffPicture(turned.data(), turned.size(), format));
        EXPECT_EQ(format, c.to);
        Pixels pixels;
        ASSERT_TRUE(decodePicture(turned.data(), turned.size(), pixels));
        ASSERT_EQ(pixels.width, c.width);
        ASSERT_EQ(pixels.height, c.height);
        Pixels scene = sim::simScene(c.width, c.height);
        // Every pixel away from the quarter borders, where JPEG blurs.
        for (int y = 4; y < c.height - 4; y += 3) {
            for (int x = 4; x < c.width - 4; x += 3) {
                if (std::abs(x - c.width / 2) < 6 || std::abs(y - c.height / 2) < 6 ||
                    std::abs(y - c.height / 8) < 6) {
                    continue;
                }
                for (int k = 0; k < 3; ++k) {
                    ASSERT_NEAR(pixels.at(x, y)[k], scene.at(x, y)[k], 48)
                        << "at " << x << "," << y;
                }
            }
        }
    }
}

TEST(ImageCodec, RefusesWhatIsNotAWholePicture) {
    std::vector<std::uint8_t> jpeg = sim::simPicture(false, 64, 48);
    std::vector<std::uint8_t> bmp = sim::simPicture(true, 64, 48);
    // A BMP header claiming 100000 x 100000 pixels.
    std::vector<std::uint8_t> huge = bmp;
    huge[18] = 0xA0, huge[19] = 0x86, huge[20] = 0x01, huge[21] = 0x00;
    huge[22] = 0xA0, huge[23] = 0x86, huge[24] = 0x01, huge[25] = 0x00;
    const std::vector<std::uint8_t> inputs[] = {
        {},
        {'B', 'M'},
        {0xFF, 0xD8, 0xFF},
        std::vector<std::uint8_t>(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2)),
        std::vector<std::uint8_t>(bmp.begin(), bmp.begin() + 60),
        huge,
        {'G', 'I', 'F', '8', '9', 'a'},
    };
    for (const auto& input : inputs) {
        std::vector<std::uint8_t> out;
        EXPECT_FALSE(rotatePicture180(input.data(), input.size(), PictureFormat::Jpeg, out))
            << input.size();
        EXPECT_TRUE(out.empty());
    }
}

TEST(ImageCodec, TheLargestImagerPictureTurnsAndOneBeyondTheLimitIsRefused) {
    struct Case {
        int width;
        int height;
        bool turns;
    };
    const Case cases[] = {{752, 480, true}, {1024, 1024, true}, {1025, 1024, false}};
    for (const Case& c : cases) {
        for (bool bmp : {false, true}) {
            std::vector<std::uint8_t> file = sim::simPicture(bmp, c.width, c.height);
            std::vector<std::uint8_t> out;
            EXPECT_EQ(rotatePicture180(file.data(), file.size(), PictureFormat::Jpeg, out), c.turns)
                << c.width << "x" << c.height << (bmp ? " BMP" : " JPEG");
        }
    }
}

}  // namespace
}  // namespace vandora::testing
