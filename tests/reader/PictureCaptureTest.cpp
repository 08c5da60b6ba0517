// Picture capture against the simulated imagers: the picture arrives whole, comes out upright
// where the terminal model turns it, in the format asked for, and a capture that cannot give a
// real picture fails.
#include <gtest/gtest.h>

#include "engines/PacketEngineModel.h"
#include "engines/SimPicture.h"
#include "platform/ImageCodec.h"
#include "reader/ImageCapture.h"
#include "support/ReadyEngine.h"

namespace vandora::testing {
namespace {

constexpr std::uint16_t kImageFormatParam = 0xF030;

// An imager as the start leaves it: identified at its working rate, its reader switched on.
struct Imager {
    ReadyEngine ready;
    BasicSimRig<OwnerClock>& rig = ready.rig;
    std::shared_ptr<sim::PacketEngineModel> model =
        std::dynamic_pointer_cast<sim::PacketEngineModel>(ready.model);

    Imager(std::int32_t type, std::int32_t terminalModel, sim::SimOptions options = {})
        : ready(type, terminalModel, std::move(options)) {}
};

// The scene's colour at the quarter points, within what JPEG keeps.
void expectUpright(const std::vector<std::uint8_t>& file) {
    Pixels pixels;
    ASSERT_TRUE(decodePicture(file.data(), file.size(), pixels));
    const int w = pixels.width;
    const int h = pixels.height;
    const int points[][2] = {{w / 4, h / 16},
                             {w / 4, 3 * h / 8},
                             {3 * w / 4, h / 4},
                             {w / 4, 3 * h / 4},
                             {3 * w / 4, 3 * h / 4}};
    for (const auto& p : points) {
        std::uint8_t want[3];
        sim::simSceneColour(p[0], p[1], w, h, want);
        const std::uint8_t* got = pixels.at(p[0], p[1]);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(got[c], want[c], 40) << "at " << p[0] << "," << p[1] << " channel " << c;
        }
    }
}

// The imager takes nothing before a picture packet's acknowledgement, the last packet's
// included: stop decoding sent ahead of it would reach an imager still waiting.
void expectEveryPacketAcknowledged(const sim::PacketEngineModel& model) {
    EXPECT_EQ(model.counters.acks, model.counters.packets);
    EXPECT_EQ(model.counters.resends, 0u);
    EXPECT_EQ(model.counters.pictureInterruptions, 0u);
}

TEST(CaptureImage, ComesOutUprightInTheFormatAskedFor) {
    struct Case {
        std::int32_t type;
        std::int32_t terminal;
        bool bmpFromEngine;
        PictureFormat stored;
    };
    const Case cases[] = {
        {3, DeviceModel::HRT200CE, false, PictureFormat::Jpeg},
        {3, DeviceModel::HRT300CE, true, PictureFormat::Bmp},
        {8, DeviceModel::HRT100CE, false, PictureFormat::Bmp},
        {8, DeviceModel::HRT100CE, true, PictureFormat::Jpeg},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "type " << c.type << " model " << c.terminal);
        Imager imager(c.type, c.terminal);
        imager.model->params[kImageFormatParam] = c.bmpFromEngine ? 3 : 1;
        std::vector<int> progress;
        std::vector<std::uint8_t> picture;
        ASSERT_EQ(captureImage(*imager.rig.manager, picture, 3000, c.stored,
                               [&](int p) { progress.push_back(p); }),
                  1);
        PictureFormat format{};
        ASSERT_TRUE(sniffPicture(picture.data(), picture.size(), format));
        EXPECT_EQ(format, c.stored);
        expectUpright(picture);
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.front(), 0);
        EXPECT_EQ(progress.back(), 100);
        EXPECT_FALSE(imager.model->scanning) << "the trigger is released after the picture";
        expectEveryPacketAcknowledged(*imager.model);
    }
}

TEST(CaptureImage, TerminalThatKeepsTheEngineBytesStoresThemUnchanged) {
    Imager imager(3, DeviceModel::HRT400CE);
    std::vector<std::uint8_t> picture;
    ASSERT_EQ(captureImage(*imager.rig.manager, picture, 3000, PictureFormat::Bmp, nullptr), 1);
    EXPECT_EQ(picture, sim::simPicture(false));
}

TEST(CaptureImage, LargePictureArrivesWhole) {
    sim::SimOptions options;
    // 40 KB: a picture of many packets, kept as it came on this terminal.
    options.image.resize(40 * 1024);
    for (std::size_t i = 0; i < options.image.size(); ++i) {
        options.image[i] = static_cast<std::uint8_t>(i * 31 + (i >> 8));
    }
    Imager imager(8, DeviceModel::HRT400CE, options);
    std::vector<std::uint8_t> picture;
    ASSERT_EQ(captureImage(*imager.rig.manager, picture, 3000, PictureFormat::Jpeg, nullptr), 1);
    EXPECT_EQ(picture, options.image);
    expectEveryPacketAcknowledged(*imager.model);
}

TEST(CaptureImage, FailsWithoutARealPicture) {
    struct Case {
        const char* name;
        std::int32_t terminal;
        std::int32_t ready;
        bool cutShort;
    };
    const Case cases[] = {
        {"GenericTerminal", DeviceModel::PocketPC, 1, false},
        {"ReaderSwitchedOff", DeviceModel::HRT200CE, 0, false},
        // No rule to turn or keep the picture: a stale or empty buffer is no picture.
        {"ModelWithoutPictureRule", DeviceModel::Unknown, 1, false},
        // The engine stops after the first packets; the refusals go unanswered.
        {"CutShort", DeviceModel::HRT200CE, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Imager imager(3, c.terminal);
        imager.rig.manager->barcodeReady = c.ready;
        if (c.cutShort) {
            // Each acknowledgement and refusal is heard but the engine says nothing more.
            imager.model->forcedAnswers.push_back({{0x04, 0xD0}, {}, -1});
            imager.model->forcedAnswers.push_back({{0x05, 0xD1}, {}, -1});
        }
        std::vector<std::uint8_t> picture = {1, 2, 3};
        EXPECT_EQ(captureImage(*imager.rig.manager, picture, 3000, PictureFormat::Jpeg, nullptr),
                  0);
        EXPECT_TRUE(picture.empty());
    }
}

TEST(ConvertImage, KeepsTheCaptureWhenItCannotBeRead) {
    const std::vector<std::uint8_t> raw = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F'};
    std::vector<std::uint8_t> out;
    EXPECT_EQ(convertImage(raw, PictureFormat::Jpeg, out), 0);
    EXPECT_EQ(out, raw);
}

}  // namespace
}  // namespace vandora::testing
