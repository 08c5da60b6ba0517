#include "config/EngineSettings.h"

#include <gtest/gtest.h>

#include "engines/EngineModels.h"
#include "reader/engines/CcdLayout.h"
#include "support/SimRig.h"

namespace vandora::testing {
namespace {

using sim::bytesOf;
using sim::withChecksum;
using Bytes = std::vector<std::uint8_t>;

const Bytes kOk = withChecksum({0x04, 0xD0, 0x00, 0x00});

std::string ccdText(const Bytes& frame) {
    return std::string(frame.begin() + 31, frame.end() - 1);
}

TEST(BarcodeDefaults, CcdQueriesTheBlockThenSendsEachChange) {
    SimRig rig;
    auto model = rig.script(1);
    model->on(ccdFrame("SET"), bytesOf(std::string(60, '0') + "\r"));
    model->onAny(bytesOf("OK\r"));
    ReaderChannel& ch = rig.openChannel(1, EngineType::CcdLaser);
    EngineSettings settings;
    ASSERT_EQ(settings.applyDefaults(*rig.manager, 1), 1);
    ASSERT_FALSE(model->frames.empty());
    EXPECT_EQ(ccdText(model->frames.front()), "SET");
    for (std::size_t i = 1; i < model->frames.size(); ++i) {
        EXPECT_EQ(ccdText(model->frames[i]).substr(0, 4), "SAVE");
    }
    // The block ends as the default set leaves it.
    EXPECT_EQ(ccdFieldValue(ch.parameterImage, ccd::kScanMode), 6u);
    EXPECT_EQ(ccdFieldValue(ch.parameterImage, ccd::kCode128Enable), 1u);
    EXPECT_EQ(ccdFieldValue(ch.parameterImage, ccd::kEan128Enable), 1u);
    EXPECT_EQ(ccdFieldValue(ch.parameterImage, ccd::kNoCodeId), 1u) << "wantCodeId 0";
    EXPECT_EQ(ch.parameterImage.byteAt(21), 3) << "laserOnTime";
    EXPECT_EQ(ch.parameterImage.byteAt(12), 0xFF) << "max/min format with length1 127";
    EXPECT_EQ(rig.manager->ccdHostOptions().transmitEan13CheckDigit, 1);
    EXPECT_EQ(rig.manager->ccdHostOptions().convertToEAN13, 1);
}

TEST(BarcodeDefaults, ImagerGetsTheLinkSetupFirstAndEndsInScanMode8) {
    for (EngineType type : {EngineType::Imager2D, EngineType::Imager2D4507}) {
        SimRig rig;
        rig.ports.faultsFor(1).noModemLines = true;
        auto model = rig.script(1);
        model->onAny(kOk);
        rig.openChannel(1, type);
        EngineSettings settings;
        ASSERT_EQ(settings.applyDefaults(*rig.manager, 1), 1);
        ASSERT_FALSE(model->frames.empty());
        EXPECT_EQ(model->frames[0],
                  withChecksum({0x11, 0xC6, 0x04, 0x08, 0xFF, 0x8A, 0x08, 0xEC, 0x00, 0xEE, 0x01,
                                0x9B, 0x14, 0x88, 0x1E, 0x9F, 0x01}));
        EXPECT_EQ(model->frames[1][1], 0xC7) << "then the whole engine is read";
        EXPECT_EQ(rig.manager->scanMode, 8);
        // Every write is a parameter send.
        for (const Bytes& f : model->frames) {
            EXPECT_TRUE(f[1] == 0xC6 || f[1] == 0xC7) << int(f[1]);
        }
    }
}

TEST(BarcodeDefaults, LongRangeLaserIsResetFoundAgainAndSetUp) {
    SimRig rig;
    rig.ports.faultsFor(1).noModemLines = true;
    auto model = rig.script(1);
    const Bytes revision = withChecksum({0x04, 0xA3, 0x04, 0x00});
    std::string text = "REV A BG x";
    Bytes reply = {static_cast<std::uint8_t>(4 + text.size()), 0xA3, 0, 0};
    reply.insert(reply.end(), text.begin(), text.end());
    model->on(revision, withChecksum(reply));
    model->onAny(kOk);
    ReaderChannel& ch = rig.openChannel(1, EngineType::LongRange1D);
    EngineSettings settings;
    ASSERT_EQ(settings.applyDefaults(*rig.manager, 1), 1);
    ASSERT_GE(model->frames.size(), 3u);
    EXPECT_EQ(model->frames[0], withChecksum({0x04, 0xC8, 0x04, 0x00}));
    EXPECT_EQ(model->frames[1], revision);
    Bytes setup = model->frames[2];
    EXPECT_EQ(setup[0], 0x13) << "with the ED 00 pair of the lasers";
    EXPECT_EQ(ch.engineType, EngineType::LongRange1D);
    EXPECT_EQ(rig.port(1).counters().opens, 1u) << "a fresh port";
}

TEST(BarcodeDefaults, LongRangeLaserLostAfterResetFails) {
    SimRig rig;
    rig.ports.faultsFor(1).noModemLines = true;
    auto model = rig.script(1);
    model->on(withChecksum({0x04, 0xC8, 0x04, 0x00}), kOk);
    ReaderChannel& ch = rig.openChannel(1, EngineType::LongRange1D);
    EngineSettings settings;
    EXPECT_EQ(settings.applyDefaults(*rig.manager, 1), 0);
    EXPECT_FALSE(ch.isOpen());
}

TEST(BarcodeDefaults, NoEngineNoDefaults) {
    SimRig rig;
    EngineSettings settings;
    EXPECT_EQ(settings.applyDefaults(*rig.manager, 1), 0);
}

TEST(RfidDefaults, AsciiModuleRegistersAreSetAndRead) {
    SimRig rig;
    auto model = rig.script(2);
    model->on(bytesOf("v"), bytesOf("MultiISO 1.0\r\n"));
    model->on(bytesOf("wp0B08"), bytesOf("xx\r\n")).uses = 2;
    model->on(bytesOf("wp0B08"), bytesOf("08\r\n"));
    model->on(bytesOf("wp0E7F"), bytesOf("7F\r\n"));
    model->on(bytesOf("rp0a"), bytesOf("A5\r\n"));
    model->on(bytesOf("rp0b"), bytesOf("R\r\n"));
    model->onAny(bytesOf("01\r\n"));
    ReaderChannel& ch = rig.manager->rfid;
    ch.port = 2;
    ch.engineType = EngineType::RfidAscii;
    ch.rfidVariant = 1;
    EngineSettings settings;
    ASSERT_EQ(settings.applyDefaults(*rig.manager, 2), 1);
    EXPECT_FALSE(ch.isOpen());
    std::size_t wp0b = 0;
    for (const Bytes& f : model->frames) {
        wp0b += f == bytesOf("wp0B08") ? 1 : 0;
    }
    EXPECT_EQ(wp0b, 3u) << "until the module echoes 08";
    ASSERT_EQ(ch.parameterImage.length(), 22u) << "registers 0A to 1F";
    EXPECT_EQ(ch.parameterImage.byteAt(0), 0xA5);
    EXPECT_EQ(ch.parameterImage.byteAt(1), 0x00) << "an R answer gives 0";
    EXPECT_EQ(ch.parameterImage.byteAt(2), 0x01);
    // Set up again: the register copy is replaced, not appended to.
    ASSERT_EQ(settings.applyDefaults(*rig.manager, 2), 1);
    EXPECT_EQ(ch.parameterImage.length(), 22u);
}

TEST(RfidDefaults, HexModuleSetupFramesGoOutOncePerRun) {
    SimRig rig;
    auto model = rig.script(2);
    model->onAny(bytesOf("00"));
    ReaderChannel& ch = rig.openChannel(2, EngineType::RfidHex);
    rig.manager->rfidIdleSeconds = 5;
    EngineSettings settings;
    ASSERT_EQ(settings.applyDefaults(*rig.manager, 2), 1);
    EXPECT_EQ(rig.manager->rfidIdleSeconds, 20u);
    EXPECT_EQ(model->frames,
              (std::vector<Bytes>{bytesOf("0109000304F0000000"), bytesOf("0109000304F1FF0000")}));
    ASSERT_EQ(settings.applyDefaults(*rig.manager, 2), 1);
    EXPECT_EQ(model->frames.size(), 2u);
    (void)ch;
}

TEST(RfidDefaults, HexModuleSilentFailsAndLeavesTheLockWithItsHolder) {
    SimRig rig;
    rig.script(2);
    ReaderChannel& ch = rig.openChannel(2, EngineType::RfidHex);
    ASSERT_TRUE(ch.channelLock.tryWait());  // the RFID read that reopened the port
    EngineSettings settings;
    EXPECT_EQ(settings.applyDefaults(*rig.manager, 2), 0);
    EXPECT_EQ(ch.channelLock.count(), 0u) << "only the holder lets it go";
    ch.channelLock.release();
    EXPECT_EQ(settings.applyDefaults(*rig.manager, 2), 0);
    EXPECT_EQ(ch.channelLock.count(), 1u) << "a failure without a holder adds no count";
}

TEST(HostOptions, ClosingTheCcdChannelWritesTheCheckDigitFlagsBack) {
    SimRig rig;
    auto model = rig.script(1);
    model->onAny(bytesOf("OK\r"));
    EngineSettings settings;
    ReaderManager manager(rig.platform, &settings);
    ReaderChannel& ch = manager.barcode;
    ch.port = 1;
    ch.engineType = EngineType::CcdLaser;
    ASSERT_EQ(openPort(ch), 1);
    ch.parameterImage = ByteString::fromBytes(std::string(30, '\0'));
    manager.ccdHostOptions().transmitEan13CheckDigit = 1;
    manager.closeReader(1);
    ASSERT_EQ(model->frames.size(), 1u);
    std::string text = ccdText(model->frames[0]);
    // byte 10 bit 2 set: "04" at hex offset 20.
    EXPECT_EQ(text.substr(4 + 20, 2), "04");
}

}  // namespace
}  // namespace vandora::testing

namespace vandora::testing {
namespace {

TEST(RfidDefaults, AsciiModuleModelEndsWithTheRegistersSet) {
    SimRig rig;
    auto model = sim::makeEngineModel(toNumber(EngineType::RfidAscii));
    rig.ports.attach(2, model);
    EngineSettings settings;
    ReaderManager manager(rig.platform, &settings);
    ASSERT_EQ(manager.openReader(2, EngineType(5)), 1);
    auto& ascii = static_cast<sim::RfidAsciiModel&>(*model);
    EXPECT_EQ(ascii.registers[0x0B], 0x08);
    EXPECT_EQ(ascii.registers[0x0E], 0x7F);
    EXPECT_EQ(manager.rfid.parameterImage.length(), 22u);
    EXPECT_EQ(manager.rfid.parameterImage.byteAt(0x0E - 0x0A), 0x7F);
    EXPECT_FALSE(manager.rfid.isOpen()) << "each scan reopens the port";
}

}  // namespace
}  // namespace vandora::testing
