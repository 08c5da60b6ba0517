// The settings pages without a toolkit, against the simulated engines: what each terminal kind's
// pages hold, what OK sends and stores, and the controls that correct or steer others.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

#include "config/SettingAccess.h"
#include "config/SettingSections.h"
#include "runtime/Management.h"
#include "support/FileText.h"
#include "ui/UiTerminal.h"
#include "ui/pages/FieldPage.h"
#include "ui/pages/PageCatalog.h"
#include "ui/pages/ReaderPages.h"

namespace vandora::ui {
namespace {

using testing::UiTerminal;

std::set<int> idsOf(const Page& page) {
    std::set<int> ids;
    for (const Control& c : page.controls()) {
        if (c.id != 0) {
            ids.insert(c.id);
        }
    }
    return ids;
}

bool enabled(const Page& page, int id) {
    const Control* c = page.find(id);
    return c != nullptr && c->enabled;
}

std::int32_t current(ReaderService& service, const SectionDef& section, const char* key) {
    IniStore values;
    SettingsContext context = service.settingsContext();
    EXPECT_TRUE(readCurrent(context, section, values)) << section.name;
    return sectionInt(values, section, key, -12345);
}

std::int32_t stored(ReaderService& service, const SectionDef& section, const char* key) {
    return sectionInt(service.store(), section, key, -12345);
}

using vandora::testing::fileText;

// A number as the settings file on disk holds it now.
std::int32_t onDisk(const std::string& path, const SectionDef& section, const char* key) {
    IniStore file;
    EXPECT_EQ(file.load(path), 1) << path;
    return sectionInt(file, section, key, -12345);
}

// Every terminal kind the simulators offer: the tab pages' lines, and every dialog page opening
// loaded and closing on OK.
struct KindCase {
    const char* spec;
    std::set<int> generalIds;  // the General tab's identified controls
    std::set<int> symbologyIds;
    std::size_t dialogPages;
};

void PrintTo(const KindCase& kind, std::ostream* out) {
    *out << kind.spec;
}

class EveryKind : public ::testing::TestWithParam<KindCase> {};

constexpr int kRestoreDefaults = 85;

TEST_P(EveryKind, TabsListTheLinesAndEveryPageOpensLoadedAndCloses) {
    UiTerminal t(GetParam().spec);
    PageCatalog catalog(*t.service);
    auto general = catalog.general();
    EXPECT_EQ(idsOf(*general), GetParam().generalIds);
    auto symbologies = catalog.symbologies();
    EXPECT_EQ(idsOf(*symbologies), GetParam().symbologyIds);
    std::vector<Action> pages = catalog.dialogPages();
    EXPECT_EQ(pages.size(), GetParam().dialogPages);
    std::set<std::string> titles;
    for (const Action& open : pages) {
        auto page = catalog.open(open);
        ASSERT_NE(page, nullptr);
        titles.insert(page->title());
        if (auto* fields = dynamic_cast<FieldPage*>(page.get())) {
            EXPECT_TRUE(fields->loaded()) << page->title();
        }
        EXPECT_FALSE(page->controls().empty()) << page->title();
        Action ok = page->accept();
        EXPECT_EQ(ok.kind, Action::Kind::Close) << page->title() << ": " << ok.text;
    }
    EXPECT_EQ(titles.size(), pages.size()) << "each page once";
    // Each page button of the General tab that can be pressed opens one of those pages.
    for (const Control& c : general->controls()) {
        if (c.kind != ControlKind::Button || !c.enabled || c.id == kRestoreDefaults) {
            continue;
        }
        Action open = general->press(c.id);
        EXPECT_TRUE(std::any_of(pages.begin(), pages.end(), [&](const Action& listed) {
            return listed.kind == open.kind && listed.arg == open.arg;
        })) << c.text;
    }
}

constexpr int kStatus = kStatusBoxId;
constexpr int kPicture = kPictureId;
// clang-format off
INSTANTIATE_TEST_SUITE_P(Pages, EveryKind, ::testing::Values(
    KindCase{"model=1,barcode=2,rfid=6",
             {14, 65, 17, 68, 66, 67, 85, 18, kStatus, kPicture},
             {14, 65, 15, 16, 67, 17, 18, 69, 19, 70, 20, 71, 21, 72, 22, 73, 23, 74, 24, 76, 26, 77, 87, 81,
              28, 79, 29, 80, 78, 107},
             4 + 14},
    KindCase{"model=4,barcode=3,rfid=7",
             {14, 65, 17, 68, 69, 66, 67, 85, 18, kStatus, kPicture},
             {14, 65, 15, 66, 16, 67, 17, 68, 20, 71, 70, 69, 21, 72, 22, 73, 23, 74, 78, 76, 77, 75, 79, 80,
              87, 81},
             5 + 17},
    KindCase{"model=5,barcode=8,rfid=0",
             {14, 65, 66, 67, 85, 18, kStatus, kPicture},
             {14, 65, 15, 66, 16, 67, 17, 68, 20, 71, 70, 69, 21, 72, 22, 73, 23, 74, 78, 76, 77, 75, 79, 80,
              87, 81, 107, 108, 110},
             3 + 18},
    KindCase{"model=2,barcode=4,rfid=5",
             {14, 65, 17, 68, 66, 67, 85, 18, kStatus, kPicture},
             {14, 65, 15, 66, 16, 67, 17, 68, 20, 71, 70, 69, 22, 73, 23, 74, 80, 78, 21, 72},
             4 + 11},
    KindCase{"model=5,barcode=9,rfid=0",
             {14, 65, 66, 67, 85, 18, kStatus, kPicture},
             {14, 65, 15, 66, 16, 67, 17, 68, 20, 71, 70, 69, 22, 73, 23, 74, 80, 78, 21, 72, 110},
             3 + 12},
    // A model with an RFID line but no module behind it: no RFID Reader Settings page, and no
    // barcode page without a barcode engine.
    KindCase{"model=4,barcode=3,rfid=0",
             {14, 65, 17, 68, 66, 67, 85, 18, kStatus, kPicture},
             {14, 65, 15, 66, 16, 67, 17, 68, 20, 71, 70, 69, 21, 72, 22, 73, 23, 74, 78, 76, 77, 75, 79, 80,
              87, 81},
             3 + 17},
    KindCase{"model=1,barcode=0,rfid=6",
             {14, 65, 17, 68, 66, 67, 85, 18, kStatus, kPicture},
             {14, 65, 15, 16, 67, 17, 18, 69, 19, 70, 20, 71, 21, 72, 22, 73, 23, 74, 24, 76, 26, 77, 87, 81,
              28, 79, 29, 80, 78, 107},
             3}),
    [](const auto& test) { return "case" + std::to_string(test.index); });
// clang-format on

TEST(GeneralTab, WithoutBarcodeEngineTheSwitchAndItsButtonAreOffAndTheSymbologiesDisabled) {
    UiTerminal t("model=1,barcode=0,rfid=6");
    PageCatalog catalog(*t.service);
    auto general = catalog.general();
    EXPECT_EQ(general->find(14)->value, 0);
    EXPECT_FALSE(enabled(*general, 14));
    EXPECT_FALSE(enabled(*general, 65));
    auto symbologies = catalog.symbologies();
    ASSERT_NE(symbologies->find(14), nullptr) << "the CCD/Laser lines";
    for (const Control& c : symbologies->controls()) {
        EXPECT_FALSE(c.enabled) << c.text << " " << c.id;
    }
    // Page 1 is empty; its OK switches barcode reading off.
    auto page = catalog.open({Action::Kind::OpenReaderPage, 1, {}});
    EXPECT_TRUE(page->controls().empty());
    t.service->settings().enableBarcode = 1;
    EXPECT_EQ(page->accept().kind, Action::Kind::Refresh);
    EXPECT_EQ(t.service->settings().enableBarcode, 0);
}

TEST(GeneralTab, ReaderSwitchesFollowTheBoxesAndRestoreDefaultsLeavesTheFileAlone) {
    UiTerminal t("model=4,barcode=3,rfid=7");
    PageCatalog catalog(*t.service);
    auto general = catalog.general();
    ASSERT_EQ(general->find(17)->value, 1);
    EXPECT_TRUE(enabled(*general, 69));
    EXPECT_EQ(general->setChecked(17, false).kind, Action::Kind::Refresh);
    EXPECT_EQ(t.service->readers().rfidReady, 0);
    EXPECT_EQ(t.service->settings().enableRfid, 0);
    EXPECT_FALSE(enabled(*general, 68));
    EXPECT_FALSE(enabled(*general, 69));
    general->setChecked(14, false);
    EXPECT_EQ(t.service->readers().barcodeReady, 0);
    general->setChecked(14, true);
    EXPECT_EQ(t.service->readers().barcodeReady, 1);

    // Code 93 off in the engine, then "Restore Defaults": on again in the engine and the store,
    // and the file on disk is still the one written at start.
    auto symbologies = catalog.symbologies();
    symbologies->setChecked(17, false);
    ASSERT_EQ(current(*t.service, kCode93Lr, "enable"), 0);
    t.service->settings().delimiter = 44;
    std::string before = fileText(t.iniPath);
    t.service->setStoreUpdate(false);
    EXPECT_EQ(general->press(85).kind, Action::Kind::Refresh);
    EXPECT_TRUE(t.service->storeUpdate());
    EXPECT_EQ(current(*t.service, kCode93Lr, "enable"), 1);
    EXPECT_EQ(stored(*t.service, kCode93Lr, "enable"), 1);
    EXPECT_EQ(t.service->settings().delimiter, AppSettings().delimiter);
    EXPECT_EQ(fileText(t.iniPath), before);
    symbologies->refresh();
    EXPECT_EQ(symbologies->find(17)->value, 1);
    EXPECT_TRUE(enabled(*symbologies, 68));
}

// The General page's switches and the trigger messages of other programs go through the service:
// the bus's BarcodeReady and RfidReady follow at once.
TEST(GeneralTab, SwitchingAReaderIsPublishedOnTheBus) {
    UiTerminal t("model=4,barcode=3,rfid=7");
    BusConnection connection;  // not opened: what the object would publish is kept all the same
    ReaderBusObject bus(connection);
    Management management(*t.service, bus);
    management.refresh();
    ASSERT_TRUE(bus.status().barcodeReady);
    ASSERT_TRUE(bus.status().rfidReady);
    PageCatalog catalog(*t.service);
    auto general = catalog.general();
    general->setChecked(14, false);
    EXPECT_FALSE(bus.status().barcodeReady);
    general->setChecked(17, false);
    EXPECT_FALSE(bus.status().rfidReady);
    general->setChecked(17, true);
    EXPECT_TRUE(bus.status().rfidReady);
    general->setChecked(14, true);
    EXPECT_TRUE(bus.status().barcodeReady);
    t.service->handle({Msg::TriggerOff, 0, 0});
    EXPECT_FALSE(bus.status().barcodeReady);
    EXPECT_EQ(t.service->settings().enableBarcode, 0);
    t.service->handle({Msg::TriggerOn, 0, 0});
    EXPECT_TRUE(bus.status().barcodeReady);
}

TEST(SymbologiesTab, ABoxSwitchesTheEngineAtOnceAndTheStoreOnlyWhileUpdating) {
    UiTerminal t("model=1,barcode=2,rfid=0");
    PageCatalog catalog(*t.service);
    auto tab = catalog.symbologies();
    ASSERT_EQ(tab->find(16)->value, 1) << "Code 39 on by default";
    t.service->setStoreUpdate(false);
    std::string before = fileText(t.iniPath);
    tab->setChecked(16, false);
    EXPECT_EQ(current(*t.service, kCode39Ccd, "enable"), 0);
    EXPECT_FALSE(enabled(*tab, 67)) << "its button follows the box";
    EXPECT_NE(stored(*t.service, kCode39Ccd, "enable"), 0);
    EXPECT_EQ(fileText(t.iniPath), before);
    t.service->setStoreUpdate(true);
    tab->setChecked(16, true);
    EXPECT_EQ(current(*t.service, kCode39Ccd, "enable"), 1);
    EXPECT_EQ(stored(*t.service, kCode39Ccd, "enable"), 1);
    EXPECT_TRUE(enabled(*tab, 67));
    // A stored switch is in the file at once.
    tab->setChecked(16, false);
    EXPECT_EQ(onDisk(t.iniPath, kCode39Ccd, "enable"), 0);
    tab->setChecked(16, true);
    EXPECT_EQ(tab->press(67).kind, Action::Kind::OpenSymbologyPage);
}

TEST(BarcodeReaderPage, CcdContinuousModeDisablesTheTimeoutAndLocksTheSymbologies) {
    UiTerminal t("model=1,barcode=2,rfid=0");
    PageCatalog catalog(*t.service);
    auto page = makeReaderPage(*t.service, 1);
    EXPECT_EQ(page->find(39)->items[3], "*Laser");
    EXPECT_EQ(page->find(38)->items[2], "*3 sec");
    EXPECT_TRUE(enabled(*page, 38));
    page->choose(39, 1);  // "Continuous"
    EXPECT_FALSE(enabled(*page, 38));
    page->choose(39, 2);  // "Alternate"
    EXPECT_TRUE(enabled(*page, 38));
    page->choose(38, 4);
    page->choose(39, 4);  // "Test"
    page->choose(40, 2);
    EXPECT_EQ(page->accept().kind, Action::Kind::Close);
    // The engine now scans by itself: the values are checked in the store, not read back.
    EXPECT_EQ(t.service->readers().scanMode, 7);
    EXPECT_EQ(stored(*t.service, kReaderCcd, "scanMode"), 7);
    EXPECT_EQ(stored(*t.service, kReaderCcd, "laserOnTime"), 5);
    EXPECT_EQ(stored(*t.service, kReaderCcd, "redundancy"), 2);
    auto tab = catalog.symbologies();
    for (const Control& c : tab->controls()) {
        EXPECT_FALSE(c.enabled) << c.text;
    }
    t.service->setContinuousScan(false);
}

TEST(BarcodeReaderPage, LongRangeListsMapTheirEntriesToTheEngineValues) {
    UiTerminal t("model=2,barcode=4,rfid=0");
    auto page = makeReaderPage(*t.service, 1);
    ASSERT_NE(page->find(41), nullptr) << "aim duration on type 4";
    EXPECT_EQ(page->find(43)->items.size(), 21u);
    EXPECT_EQ(page->find(43)->items[2], "*1.0 sec");
    EXPECT_EQ(page->find(43)->items[20], "9.9 sec");
    page->choose(40, 0);   // "wide"
    page->choose(42, 0);   // "Continuous"
    page->choose(43, 20);  // 9.9 sec
    page->choose(41, 3);
    page->choose(38, 8);
    ASSERT_EQ(page->accept().kind, Action::Kind::Close);
    t.service->setContinuousScan(false);
    EXPECT_EQ(t.service->readers().scanMode, 4);
    EXPECT_EQ(stored(*t.service, kReader1DLr, "scanAngle"), 181);
    EXPECT_EQ(stored(*t.service, kReader1DLr, "scanMode"), 4);
    EXPECT_EQ(stored(*t.service, kReader1DLr, "aimDurtion"), 30);
    EXPECT_EQ(stored(*t.service, kReader1DLr, "laserOnTime"), 90);
    EXPECT_EQ(stored(*t.service, kReader1DLr, "timeoutBetweenSameSymbol"), 99);
}

TEST(OutputPages, StoredValuesSelectTheirEntries) {
    struct Case {
        const char* key;
        std::int32_t AppSettings::*field;
        int value;
        int page;
        int list;
        int shown;
        const char* text;
    };
    // clang-format off
    const Case cases[] = {
        {"keyboardEmu", &AppSettings::keyboardEmu, 5, 3, 41, 2, "RDP server"},
        {"delimiter", &AppSettings::delimiter, 44, 3, 40, 44, "','"},
        {"delimiter", &AppSettings::delimiter, 9, 3, 40, 9, "0x09"},
        {"vibrationTime", &AppSettings::vibrationTime, 14, 2, 38, 10, "5.0 sec"},
        {"buzzerFreq", &AppSettings::buzzerFreq, 1, 2, 88, 0, "*500Hz"},
    };
    // clang-format on
    UiTerminal t("model=4,barcode=3,rfid=0");
    for (const Case& c : cases) {
        t.service->settings().*c.field = c.value;
        auto page = makeReaderPage(*t.service, c.page);
        const Control* list = page->find(c.list);
        ASSERT_NE(list, nullptr) << c.key;
        EXPECT_EQ(list->value, c.shown) << c.key;
        EXPECT_EQ(list->items[static_cast<std::size_t>(list->value)], c.text) << c.key;
    }
}

TEST(OutputPages, ModelsAndModulesDecideTheLinesAndOkStoresTheSettings) {
    UiTerminal t("model=5,barcode=8,rfid=0");
    auto notifications = makeReaderPage(*t.service, 2);
    EXPECT_NE(notifications->find(89), nullptr) << "buzzer on model 5";
    auto output = makeReaderPage(*t.service, 3);
    EXPECT_EQ(output->find(19), nullptr) << "no RFID lines on model 5";
    output->typeText(47, "<");
    output->typeText(48, "\xc3\xa9");  // a non-ASCII suffix survives the round trip
    output->choose(40, 44);
    output->setChecked(17, true);
    ASSERT_EQ(output->accept().kind, Action::Kind::Close);
    const AppSettings& s = t.service->settings();
    EXPECT_EQ(s.prefixStr, ByteString("<"));
    EXPECT_EQ(s.suffixStr, ByteString(u"\u00e9"));
    EXPECT_EQ(s.delimiter, 44);
    EXPECT_EQ(s.displayCodeType, 1);
    EXPECT_EQ(stored(*t.service, kGeneral, "delimiter"), 44);
    // What OK stored is in the file at once, not only at quit.
    EXPECT_EQ(onDisk(t.iniPath, kGeneral, "delimiter"), 44);

    UiTerminal plain("model=1,barcode=2,rfid=0");
    auto rfidLess = makeReaderPage(*plain.service, 3);
    ASSERT_NE(rfidLess->find(19), nullptr);
    EXPECT_FALSE(enabled(*rfidLess, 19)) << "disabled without an RFID module";
}

TEST(OutputPages, BuzzerDurationCorrectsItselfAndItsSpinStopsAtTheLimits) {
    UiTerminal t("model=1,barcode=2,rfid=0");
    auto page = makeReaderPage(*t.service, 2);
    struct Typed {
        const char* text;
        const char* shown;
    };
    for (Typed typed : {Typed{"300", "255"}, Typed{"-4", "0"}, Typed{"", ""}, Typed{"12", "12"}}) {
        page->typeText(89, typed.text);
        EXPECT_EQ(page->find(89)->text, typed.shown) << typed.text;
    }
    page->typeText(89, "254");
    page->step(63, 1);
    page->step(63, 1);
    EXPECT_EQ(page->find(89)->text, "255");
    page->accept();
    EXPECT_EQ(t.service->settings().buzzerDuration, 255);
}

TEST(RfidPage, PowerOffTimesEmptyBoxesAndTheReadWritePair) {
    UiTerminal t("model=1,barcode=0,rfid=6");
    t.service->settings().timeOfPowerOn = 20;
    t.service->settings().rfidRW = 0;
    auto page = makeReaderPage(*t.service, 4);
    EXPECT_EQ(page->find(38)->value, 1);
    EXPECT_EQ(page->find(38)->items.size(), 60u);
    EXPECT_EQ(page->find(82)->value, 1);
    EXPECT_TRUE(enabled(*page, 47));
    EXPECT_FALSE(enabled(*page, 49));
    page->typeText(47, "");
    page->typeText(48, "-1");
    page->setChecked(83, true);
    EXPECT_EQ(page->find(82)->value, 0);
    EXPECT_FALSE(enabled(*page, 47));
    EXPECT_TRUE(enabled(*page, 49));
    page->choose(39, 59);
    EXPECT_EQ(page->find(38)->value, 59) << "both lists show the one setting";
    ASSERT_EQ(page->accept().kind, Action::Kind::Close);
    const AppSettings& s = t.service->settings();
    EXPECT_EQ(s.timeOfPowerOn, 600);
    EXPECT_EQ(s.rfidReadStartByte, -1);
    EXPECT_EQ(s.rfidReadLength, -1);
    EXPECT_EQ(s.rfidRW, 1);

    UiTerminal letters("model=2,barcode=4,rfid=5");
    EXPECT_EQ(makeReaderPage(*letters.service, 4)->find(38), nullptr) << "power-off on kind 6 only";
}

TEST(MifareKeysPage, SectorSpinAndKeyLengths) {
    UiTerminal t("model=4,barcode=0,rfid=7");
    auto page = makeReaderPage(*t.service, 5);
    ASSERT_NE(page->find(113), nullptr);
    EXPECT_EQ(page->find(124)->text, "3C5A9E71B2D4");
    EXPECT_EQ(page->find(10)->text, "(4, 5, 6 blocks)");
    page->typeText(117, "63");
    page->step(118, 1);
    page->step(118, 1);
    EXPECT_EQ(page->find(117)->text, "64");
    EXPECT_EQ(page->find(10)->text, "(256, 257, 258 blocks)");
    page->typeText(117, "1");
    page->step(118, -1);
    page->step(118, -1);
    EXPECT_EQ(page->find(117)->text, "0");

    page->typeText(124, "3C5A9E71B2D");
    Action write = page->press(113);
    EXPECT_EQ(write.kind, Action::Kind::Message);
    EXPECT_EQ(write.text, "The length of the loginKey must be 12.");
    page->typeText(124, "3C5A9E71B2D4");
    page->typeText(114, "FFFFFFFFFFFF");
    EXPECT_EQ(page->press(113).text, "The length of the new key B must be 12.");

    UiTerminal hex("model=1,barcode=0,rfid=6");
    EXPECT_TRUE(makeReaderPage(*hex.service, 5)->controls().empty());
}

// Key boxes are masked until the page's "Show" box is checked, which reveals them while the page
// is open; a page opened again starts masked. Masking hides the key on screen only: the box
// still holds it, and what is typed into a masked box is stored.
TEST(KeyFields, MaskedUntilShownAndStoredAsTyped) {
    UiTerminal t("model=4,barcode=3,rfid=7");
    struct Case {
        int page;
        std::set<int> keys;
    };
    for (const Case& c : {Case{4, {124}}, Case{5, {124, 114, 119}}}) {
        SCOPED_TRACE(c.page);
        for (int opening = 0; opening < 2; ++opening) {
            auto page = makeReaderPage(*t.service, c.page);
            const Control* show = page->find(kShowKeysId);
            ASSERT_NE(show, nullptr);
            EXPECT_EQ(show->kind, ControlKind::Check);
            EXPECT_EQ(show->text, "Show");
            auto maskedIds = [&page] {
                std::set<int> ids;
                for (const Control& control : page->controls()) {
                    if (control.masked) {
                        ids.insert(control.id);
                    }
                }
                return ids;
            };
            EXPECT_EQ(maskedIds(), c.keys) << "opening " << opening;
            EXPECT_EQ(page->find(124)->text, "3C5A9E71B2D4");
            page->setChecked(kShowKeysId, true);
            EXPECT_EQ(maskedIds(), std::set<int>{});
            if (opening == 0) {
                page->setChecked(kShowKeysId, false);
                EXPECT_EQ(maskedIds(), c.keys);
            }
        }
    }
    auto rfid = makeReaderPage(*t.service, 4);
    rfid->typeText(124, "A1B2C3D4E5F6");
    ASSERT_EQ(rfid->accept().kind, Action::Kind::Close);
    EXPECT_EQ(t.service->settings().mifareLoginKeyA.narrow(), "A1B2C3D4E5F6");

    // Pages without keys have no box and nothing masked, the prefix and suffix texts included.
    for (int other : {1, 2, 3}) {
        auto page = makeReaderPage(*t.service, other);
        EXPECT_EQ(page->find(kShowKeysId), nullptr) << other;
        for (const Control& control : page->controls()) {
            EXPECT_FALSE(control.masked) << other << " " << control.id;
        }
    }
}

TEST(SymbologyPages, ImagerPageLimitsListsAndFolder) {
    UiTerminal t("model=4,barcode=3,rfid=0");
    PageCatalog catalog(*t.service);
    auto tab = catalog.symbologies();
    EXPECT_FALSE(enabled(*tab, 81)) << "image capture is off by default";
    tab->setChecked(87, true);
    EXPECT_EQ(t.service->settings().imageEnable, 1);
    Action open = tab->press(81);
    ASSERT_EQ(open.kind, Action::Kind::OpenSymbologyPage);
    auto page = catalog.open(open);
    ASSERT_EQ(page->title(), "Image Capture");
    auto edit = [&](const char* label) {
        const auto controls = page->controls();
        for (std::size_t i = 0; i + 1 < controls.size(); ++i) {
            if (controls[i].text == label) {
                return controls[i + 1].id;
            }
        }
        return 0;
    };
    int size = edit("Select JPEG size:");
    page->typeText(size, "300");
    EXPECT_EQ(page->find(size)->text, "150");
    int quality = edit("Select JPEG quality:");
    page->typeText(quality, "2");
    EXPECT_EQ(page->find(quality)->text, "5");
    int format = edit("Image format:");
    page->choose(format, 1);  // BMP
    int browse = 0;
    for (const Control& c : page->controls()) {
        if (c.text == "Browse") {
            browse = c.id;
        }
    }
    EXPECT_EQ(page->press(browse).kind, Action::Kind::ChooseFolder);
    page->folderChosen("/tmp/pictures");
    ASSERT_EQ(page->accept().kind, Action::Kind::Close);
    EXPECT_EQ(current(*t.service, kImage2D, "jpgSizeValue"), 150);
    EXPECT_EQ(current(*t.service, kImage2D, "imageFileFormat"), 3);
    EXPECT_EQ(t.service->settings().imagePath, ByteString("/tmp/pictures/"));
}

TEST(SymbologyPages, PreamblesAndLengthsOfAPacketEngine) {
    UiTerminal t("model=2,barcode=4,rfid=0");
    PageCatalog catalog(*t.service);
    auto tab = catalog.symbologies();
    auto upc = catalog.open(tab->press(69));
    ASSERT_EQ(upc->title(), "UPC");
    const Control* preamble = nullptr;
    for (const Control& c : upc->controls()) {
        if (c.kind == ControlKind::Choice && c.items.size() == 12) {
            preamble = &c;
        }
    }
    ASSERT_NE(preamble, nullptr);
    EXPECT_EQ(preamble->items[4], "=== Select UPC-E preamble ====");
    EXPECT_EQ(upc->choose(preamble->id, 4).kind, Action::Kind::None);
    EXPECT_NE(preamble->value, 4) << "a heading cannot be chosen";
    std::int32_t upcA = current(*t.service, kUpcLr, "preambleUPC_A");
    upc->choose(preamble->id, 7);  // UPC-E: system character & country code
    upc->choose(preamble->id, 9);  // UPC-E1: no preamble
    ASSERT_EQ(upc->accept().kind, Action::Kind::Close);
    EXPECT_EQ(current(*t.service, kUpcLr, "preambleUPC_E"), 2);
    EXPECT_EQ(current(*t.service, kUpcLr, "preambleUPC_E1"), 0);
    EXPECT_EQ(current(*t.service, kUpcLr, "preambleUPC_A"), upcA) << "left alone";

    auto code93 = catalog.open(tab->press(68));
    ASSERT_EQ(code93->title(), "Code 93");
    const auto controls = code93->controls();
    // The list says what it chooses.
    ASSERT_EQ(controls[0].kind, ControlKind::Label);
    EXPECT_EQ(controls[0].text, "Lengths:");
    const Control& list = controls[1];
    ASSERT_EQ(list.kind, ControlKind::Choice);
    EXPECT_EQ(list.value, 1) << "4..55 is a range";
    code93->choose(list.id, 0);  // two discrete lengths
    code93->typeText(controls[2].id, "8");
    code93->typeText(controls[4].id, "12");
    code93->accept();
    EXPECT_EQ(current(*t.service, kCode93Lr, "length1"), 12);
    EXPECT_EQ(current(*t.service, kCode93Lr, "length2"), 8);
    code93 = catalog.open(tab->press(68));
    EXPECT_EQ(code93->controls()[1].value, 0);
}

TEST(SymbologyPages, CancelChangesNothing) {
    UiTerminal t("model=1,barcode=2,rfid=0");
    PageCatalog catalog(*t.service);
    auto tab = catalog.symbologies();
    auto page = catalog.open(tab->press(67));
    ASSERT_EQ(page->title(), "Code 39");
    const Control& fullAscii = page->controls()[2];
    std::int32_t before = current(*t.service, kCode39Ccd, "fullASCII");
    page->setChecked(fullAscii.id, before == 0);
    page.reset();  // closed without OK
    EXPECT_EQ(current(*t.service, kCode39Ccd, "fullASCII"), before);
}

}  // namespace
}  // namespace vandora::ui
