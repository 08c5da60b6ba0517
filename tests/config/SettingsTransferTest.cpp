#include "config/SettingsTransfer.h"

#include <gtest/gtest.h>

#include "config/SettingLimits.h"
#include "engines/EngineModels.h"
#include "support/SimRig.h"

namespace vandora::testing {
namespace {

IniStore storeOf(const std::string& text) {
    IniStore store;
    store.loadBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    return store;
}

std::int32_t intOf(IniStore& store, const char* section, const char* key) {
    std::int32_t value = -999;
    store.getInt(store.findSection(ByteString(section)), ByteString(key), value);
    return value;
}

bool hasSection(IniStore& store, const char* section) {
    return store.findSection(ByteString(section)) != nullptr;
}

struct HintCase {
    const char* name;
    const char* file;
    std::int32_t barcode;
    std::int32_t rfid;
};

class ReaderHintsFromFile : public ::testing::TestWithParam<HintCase> {};

TEST_P(ReaderHintsFromFile, FollowTheHasFlags) {
    IniStore store = storeOf(GetParam().file);
    ReaderHints hints = readerHints(store);
    EXPECT_EQ(toNumber(hints.barcode), GetParam().barcode);
    EXPECT_EQ(toNumber(hints.rfid), GetParam().rfid);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReaderHintsFromFile,
    ::testing::Values(
        HintCase{"EmptyFileDetectsBoth", "", 1, 1},
        HintCase{"NoHasFlagsOpensNothing", "[General]\r\nkeyboardEmu=1\r\n", 0, 0},
        HintCase{"CcdWinsOverImager",
                 "[Barcode Reader 2D]\r\nhas2D=1\r\n[Barcode Reader CCD/Laser]\r\nhasCCD=1\r\n", 2,
                 0},
        HintCase{"Imager4507", "[Barcode Reader 2D]\r\nhas2D_4507=1\r\n", 8, 0},
        HintCase{"LongRangeBefore955", "[Barcode Reader 1D_LR]\r\nhas1D_955=1\r\nhas1DLR=1\r\n", 4,
                 0},
        HintCase{"Laser955AndRfidHex",
                 "[Barcode Reader 1D_LR]\r\nhas1D_955=1\r\n[RFID]\r\nhasRfid=6\r\n", 9, 6}),
    [](const auto& test) { return std::string(test.param.name); });

// An engine model on port 1, opened through the manager as the service does.
class TransferTest : public ::testing::Test {
  protected:
    std::shared_ptr<sim::EngineSim> open(EngineType type) {
        rig_.ports.faultsFor(1).noModemLines = true;
        model_ = sim::makeEngineModel(toNumber(type));
        rig_.ports.attach(1, model_);
        manager_ = std::make_unique<ReaderManager>(rig_.platform, &engine_);
        EXPECT_EQ(manager_->openReader(1, type), 1);
        EXPECT_EQ(manager_->barcode.engineType, type);
        settings_.enableBarcode = 1;
        return model_;
    }
    sim::PacketEngineModel& packetModel() { return static_cast<sim::PacketEngineModel&>(*model_); }

    SimRig rig_;
    EngineSettings engine_;
    AppSettings settings_;
    std::shared_ptr<sim::EngineSim> model_;
    std::unique_ptr<ReaderManager> manager_;
};

TEST_F(TransferTest, FirstStartSavesTheImagersDefaultSet) {
    open(EngineType::Imager2D);
    IniStore store;
    saveAll(*manager_, engine_, store, settings_);
    EXPECT_TRUE(hasSection(store, "General"));
    EXPECT_EQ(intOf(store, "Barcode Reader 2D", "has2D"), 1);
    EXPECT_EQ(intOf(store, "Barcode Reader 2D", "enableBarcode"), 1);
    EXPECT_EQ(intOf(store, "Barcode Reader 2D", "laserOnTime"), 30);
    EXPECT_EQ(intOf(store, "Barcode Reader 2D", "scanMode"), 8);
    EXPECT_EQ(intOf(store, "Code39 2D/1D_LR", "length2"), 55);
    EXPECT_EQ(intOf(store, "Code128 2D/1D_LR", "isbtConcatenationRedundancy"), 10);
    EXPECT_EQ(intOf(store, "MacroPDF 2D", "macroPDFTransmit"), 4);
    EXPECT_EQ(intOf(store, "2D Symbologies", "qrCode"), 1);
    EXPECT_EQ(intOf(store, "Image 2D", "qualityValue"), 65);
    EXPECT_FALSE(hasSection(store, "RFID")) << "no RFID module";
    EXPECT_FALSE(hasSection(store, "Matrix25 2D")) << "type 8 only";
    EXPECT_EQ(intOf(store, "Image 2D", "snapshotModeTimeout"), -999) << "never saved";
}

TEST_F(TransferTest, LoadAllSendsTheFilesValuesOverTheDefaults) {
    open(EngineType::Imager2D4507);
    IniStore store = storeOf(
        "[General]\r\nbuzzerDuration=7\r\n"
        "[Code93 2D/1D_LR]\r\nenable=0\r\nlength1=6\r\n"
        "[Barcode Reader 2D]\r\nhas2D_4507=1\r\nenableBarcode=0\r\nscanMode=7\r\n"
        "[Image 2D]\r\nenable=1\r\nqualityValue=80\r\n");
    loadAll(*manager_, engine_, store, settings_);
    EXPECT_EQ(settings_.buzzerDuration, 7);
    EXPECT_EQ(settings_.enableBarcode, 0);
    EXPECT_EQ(settings_.imageEnable, 1);
    EXPECT_EQ(packetModel().param(0x09), 0);
    EXPECT_EQ(packetModel().param(0x1A), 6);
    EXPECT_EQ(packetModel().param(0x1B), 55) << "length2 absent from the file: default kept";
    EXPECT_EQ(packetModel().param(0x8A), 7);
    EXPECT_EQ(manager_->scanMode, 7);
    EXPECT_EQ(packetModel().param(0xF031), 80);
    EXPECT_EQ(packetModel().param(0x0A), 1) << "no Code 11 section: default set kept";
}

TEST_F(TransferTest, Laser955WithoutCode11SectionKeepsTheDefaultSet) {
    open(EngineType::Laser1D955);
    IniStore store = storeOf("[Codabar 2D/1D_LR]\r\nenable=0\r\n");
    loadAll(*manager_, engine_, store, settings_);
    EXPECT_EQ(packetModel().param(0x07), 0);
    EXPECT_EQ(packetModel().param(0x0A), 1);
    EXPECT_EQ(packetModel().param(0x1C), 4);
    EXPECT_EQ(packetModel().param(0x1D), 55);
}

TEST_F(TransferTest, LaserSaveWritesItsReaderSectionAndAimTime) {
    open(EngineType::LongRange1D);
    manager_->barcode.aimTime = 3;
    IniStore store;
    saveAll(*manager_, engine_, store, settings_);
    EXPECT_EQ(intOf(store, "Barcode Reader 1D_LR", "has1DLR"), 1);
    EXPECT_EQ(intOf(store, "Barcode Reader 1D_LR", "has1D_955"), -999);
    EXPECT_EQ(intOf(store, "Barcode Reader 1D_LR", "aimDurtion"), 3);
    EXPECT_EQ(intOf(store, "EAN,JAN 2D/1D_LR", "upcEanSecurityLevel"), 1);
    EXPECT_EQ(intOf(store, "EAN,JAN 2D/1D_LR", "linearDecode"), -999) << "imagers only";
    EXPECT_FALSE(hasSection(store, "Code11 2D")) << "type 9 only";
}

TEST_F(TransferTest, CcdSaveAndLoadGoThroughTheBlock) {
    open(EngineType::CcdLaser);
    IniStore saved;
    saveAll(*manager_, engine_, saved, settings_);
    EXPECT_EQ(intOf(saved, "Barcode Reader CCD/Laser", "hasCCD"), 1);
    EXPECT_EQ(intOf(saved, "Barcode Reader CCD/Laser", "scanMode"), 6);
    EXPECT_EQ(intOf(saved, "Code39 CCD/Laser", "enable"), 1);
    EXPECT_EQ(intOf(saved, "Interleaved25 CCD/Laser", "length1"), 127);
    EXPECT_EQ(intOf(saved, "EAN-13,UPC-A CCD/Laser", "transmitEan13CheckDigit"), 1);

    IniStore file =
        storeOf("[Code39 CCD/Laser]\r\nenable=0\r\n[Barcode Reader CCD/Laser]\r\nscanMode=5\r\n");
    loadAll(*manager_, engine_, file, settings_);
    auto& ccd = static_cast<sim::CcdLaserModel&>(*model_);
    ASSERT_GE(ccd.block.size(), 30u);
    EXPECT_EQ(ccd.block[0] & 0x80, 0) << "Code 39 off in the engine";
    EXPECT_EQ(ccd.block[20] >> 4, 5);
    EXPECT_EQ(manager_->scanMode, 5);
}

TEST(RfidTransfer, KeysExchangedDependOnTheModuleType) {
    struct Case {
        std::int32_t type;
        bool mifare;
        bool powerOn;
    };
    for (const Case& c : {Case{5, true, false}, Case{6, false, true}, Case{7, true, false}}) {
        SimRig rig;
        EngineSettings engine;
        AppSettings settings;
        rig.manager->rfid.engineType = EngineType(c.type);
        settings.timeOfPowerOn = 9;
        IniStore store;
        saveAll(*rig.manager, engine, store, settings);
        EXPECT_EQ(intOf(store, "RFID", "hasRfid"), c.type);
        EXPECT_EQ(intOf(store, "RFID", "rfidReadStartByte"), -1);
        EXPECT_EQ(intOf(store, "RFID", "m_rfidSecurityKeyType") != -999, c.mifare);
        EXPECT_EQ(intOf(store, "RFID", "timeOfPowerOn") != -999, c.powerOn);

        AppSettings loaded;
        IniStore file = storeOf("[RFID]\r\nhasRfid=5\r\nrfidReadLength=4\r\ntimeOfPowerOn=3\r\n");
        loadAll(*rig.manager, engine, file, loaded);
        EXPECT_EQ(loaded.rfidReadLength, 4);
        EXPECT_EQ(loaded.hasRfid, 0) << "load never reads hasRfid";
        EXPECT_EQ(loaded.timeOfPowerOn, c.powerOn ? 3 : 0);
    }
}

TEST(RfidTransfer, NoModuleSwitchesRfidOff) {
    SimRig rig;
    EngineSettings engine;
    AppSettings settings;
    settings.enableRfid = 1;
    settings.enableBarcode = 1;
    IniStore file = storeOf("[RFID]\r\nenableRfid=1\r\n");
    loadAll(*rig.manager, engine, file, settings);
    EXPECT_EQ(settings.enableRfid, 0);
    EXPECT_EQ(settings.enableBarcode, 0);
    IniStore saved;
    saveAll(*rig.manager, engine, saved, settings);
    EXPECT_FALSE(hasSection(saved, "RFID"));
}

TEST_F(TransferTest, RestoreDefaultsPutsTheEngineBackAndWritesOnlyEnables) {
    open(EngineType::Imager2D);
    IniStore store = storeOf("[Code93 2D/1D_LR]\r\nenable=0\r\nlength1=9\r\n");
    loadAll(*manager_, engine_, store, settings_);
    ASSERT_EQ(packetModel().param(0x09), 0);
    settings_.keyboardEmu = 2;
    std::vector<SymbologyEnable> enables = restoreDefaults(*manager_, engine_, store, settings_);
    EXPECT_EQ(packetModel().param(0x09), 1);
    EXPECT_EQ(settings_.keyboardEmu, 1);
    EXPECT_EQ(intOf(store, "Code93 2D/1D_LR", "enable"), 1);
    EXPECT_EQ(intOf(store, "Code93 2D/1D_LR", "length1"), 9) << "only the enable is written";
    bool code93 = false;
    for (const SymbologyEnable& e : enables) {
        code93 = code93 || (e.section == &kCode93Lr && e.enable == 1);
    }
    EXPECT_TRUE(code93);
}

}  // namespace
}  // namespace vandora::testing

namespace vandora::testing {
namespace {

// Save-all then load-all into the same engine: nothing changes, and with the parameter cache in
// step a second identical load sends no packet at all.
class RoundTrip : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(RoundTrip, SaveThenLoadLeavesTheEngineAsItWas) {
    EngineType type = EngineType(GetParam());
    SimRig rig;
    rig.ports.faultsFor(1).noModemLines = true;
    auto model = sim::makeEngineModel(toNumber(type));
    rig.ports.attach(1, model);
    EngineSettings engine;
    ReaderManager manager(rig.platform, &engine);
    ASSERT_EQ(manager.openReader(1, type), 1);
    AppSettings settings;
    settings.enableBarcode = 1;
    IniStore store;
    saveAll(manager, engine, store, settings);
    // The start-up check of the file must not warn about what the program itself wrote.
    EXPECT_EQ(invalidStoredValues(store), std::vector<std::string>{});

    auto snapshot = [&] {
        if (type == EngineType::CcdLaser) {
            auto& ccd = static_cast<sim::CcdLaserModel&>(*model);
            return std::vector<std::uint8_t>(ccd.block.begin(), ccd.block.end());
        }
        auto& packet = static_cast<sim::PacketEngineModel&>(*model);
        std::vector<std::uint8_t> state;
        for (const auto& [number, value] : packet.params) {
            state.push_back(static_cast<std::uint8_t>(number >> 8));
            state.push_back(static_cast<std::uint8_t>(number));
            state.push_back(value);
        }
        return state;
    };
    std::vector<std::uint8_t> before = snapshot();
    loadAll(manager, engine, store, settings);
    EXPECT_EQ(snapshot(), before);
    if (type != EngineType::CcdLaser) {
        std::size_t heard = model->log.size();
        loadAll(manager, engine, store, settings);
        std::size_t sends = 0;
        for (std::size_t i = heard; i < model->log.size(); ++i) {
            const auto& frame = model->log[i].frame;
            // The type-3 imager's exposure has no cache and goes out whenever it is given.
            bool exposureOnly =
                frame.size() == 10 && frame[5] == 0xF4 && frame[6] == 0xF0 && frame[7] == 0x38;
            sends += frame.size() > 1 && frame[1] == 0xC6 && !exposureOnly ? 1 : 0;
        }
        EXPECT_EQ(sends, 0u) << "the settings already match";
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, RoundTrip, ::testing::Values(2, 3, 4, 8, 9));

// An engine that answers no settings read: save-all writes the sections whose read succeeded,
// none here, except the CCD/Laser reader section, which is written whatever the read gives.
TEST(SilentEngine, SaveWritesOnlyTheCcdReaderSection) {
    struct Case {
        EngineType type;
        const char* readerSection;
        bool written;
    };
    const Case cases[] = {
        {EngineType::CcdLaser, "Barcode Reader CCD/Laser", true},
        {EngineType::Imager2D, "Barcode Reader 2D", false},
        {EngineType::LongRange1D, "Barcode Reader 1D_LR", false},
        {EngineType::Imager2D4507, "Barcode Reader 2D", false},
        {EngineType::Laser1D955, "Barcode Reader 1D_LR", false},
    };
    for (const Case& c : cases) {
        SimRig rig;
        rig.ports.faultsFor(1).noModemLines = true;
        rig.script(1);
        rig.openChannel(1, c.type);
        EngineSettings engine;
        AppSettings settings;
        settings.enableBarcode = 1;
        IniStore store;
        std::vector<std::string> written;
        saveAll(*rig.manager, engine, store, settings,
                [&](const SectionDef& section) { written.emplace_back(section.name); });
        std::vector<std::string> expected = {"General"};
        if (c.written) {
            expected.emplace_back(c.readerSection);
        }
        EXPECT_EQ(written, expected) << toNumber(c.type);
        EXPECT_EQ(store.sections().size(), expected.size()) << toNumber(c.type);
        EXPECT_EQ(hasSection(store, c.readerSection), c.written) << toNumber(c.type);
        if (c.written) {
            EXPECT_EQ(intOf(store, c.readerSection, "hasCCD"), 1);
            EXPECT_EQ(intOf(store, c.readerSection, "enableBarcode"), 1);
        }
    }
}

TEST(UntrustedValues, NegativeAndLargeNumbersUseLowBitsAndClamps) {
    SimRig rig;
    auto model = sim::makeEngineModel(toNumber(EngineType::CcdLaser));
    rig.ports.attach(1, model);
    EngineSettings engine;
    ReaderManager manager(rig.platform, &engine);
    ASSERT_EQ(manager.openReader(1, EngineType(2)), 1);
    AppSettings settings;
    IniStore store = storeOf(
        "[Interleaved25 CCD/Laser]\r\nlength1=-5\r\nlength2=99999\r\nstartStopPattern=abc\r\n"
        "[Barcode Reader CCD/Laser]\r\nlaserOnTime=-1\r\n");
    loadAll(manager, engine, store, settings);
    const ByteString& block = manager.barcode.parameterImage;
    ASSERT_EQ(block.length(), 30u) << "nothing written past the block";
    EXPECT_EQ(block.byteAt(14) & 0x7F, 0x7B) << "-5 keeps its low seven bits";
    EXPECT_EQ(block.byteAt(15), 0xFF) << "clamped to 255";
    EXPECT_EQ((block.byteAt(6) >> 2) & 3, 0) << "\"abc\" reads as 0";
    EXPECT_EQ(block.byteAt(21), 0xFF);
}

}  // namespace
}  // namespace vandora::testing
