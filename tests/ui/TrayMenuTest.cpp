#include "ui/TrayMenu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vandora::ui {
namespace {

// "id text e c" per item: e enabled, c checked; "-" for the separator.
std::vector<std::string> describe(const std::vector<TrayItem>& items) {
    std::vector<std::string> out;
    for (const TrayItem& item : items) {
        if (item.id == 0) {
            out.emplace_back("-");
            continue;
        }
        out.push_back(std::to_string(item.id) + " " + item.text + (item.enabled ? " e" : "") +
                      (item.checked ? " c" : ""));
    }
    return out;
}

struct MenuCase {
    const char* name;
    std::int32_t model;
    EngineType barcode;
    EngineType rfid;
    bool barcodeReady;
    bool rfidReady;
    std::vector<std::string> items;
};

class TrayMenuItems : public ::testing::TestWithParam<MenuCase> {};

TEST_P(TrayMenuItems, FollowTheModelAndTheEnginesFound) {
    const MenuCase& c = GetParam();
    TrayMenu menu(c.model, c.barcode, c.rfid);
    EXPECT_EQ(describe(menu.items(c.barcodeReady, c.rfidReady)), c.items);
}

using T = EngineType;
INSTANTIATE_TEST_SUITE_P(
    Cases, TrayMenuItems,
    ::testing::Values(
        MenuCase{"Model5LaserReady",
                 5,
                 T::Laser1D955,
                 T::None,
                 true,
                 false,
                 {"10000 1D Laser e c", "10002 2D", "-", "10005 Maximize", "10004 Exit e"}},
        MenuCase{"Model5ImagerSwitchedOff",
                 5,
                 T::Imager2D4507,
                 T::None,
                 false,
                 false,
                 {"10000 1D Laser", "10002 2D e", "-", "10005 Maximize", "10004 Exit e"}},
        MenuCase{"Model1CcdWithHexRfid",
                 1,
                 T::CcdLaser,
                 T::RfidHex,
                 true,
                 true,
                 {"10000 CCD/Laser e c", "10002 2D", "10003 RFID e c", "-", "10005 Maximize",
                  "10004 Exit e"}},
        MenuCase{"Model4ImagerWithLink",
                 4,
                 T::Imager2D4507,
                 T::RfidBinaryLink,
                 true,
                 false,
                 {"10000 CCD/Laser", "10002 2D e c", "10003 RFID e", "-", "10005 Maximize",
                  "10004 Exit e"}},
        MenuCase{"Model2LongRangeWithHexRfidGrey",
                 2,
                 T::LongRange1D,
                 T::RfidHex,
                 true,
                 true,
                 {"10000 CCD/Laser", "10002 2D", "10001 Long Range Laser e c", "10003 RFID", "-",
                  "10005 Maximize", "10004 Exit e"}},
        MenuCase{"Model2LetterRfid",
                 2,
                 T::None,
                 T::RfidAscii,
                 false,
                 true,
                 {"10000 CCD/Laser", "10002 2D", "10001 Long Range Laser", "10003 RFID e c", "-",
                  "10005 Maximize", "10004 Exit e"}},
        MenuCase{"OtherModelHasNoReaderItems",
                 3,
                 T::Imager2D,
                 T::None,
                 true,
                 false,
                 {"-", "10005 Maximize", "10004 Exit e"}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(TrayMenuCommands, SwitchesActOnlyOnTheirEngine) {
    struct Case {
        EngineType barcode;
        EngineType rfid;
        int id;
        TrayAction action;
        std::int32_t barcodeAfter;
        std::int32_t rfidAfter;
    };
    const Case cases[] = {
        {T::Imager2D, T::None, kTrayCcdLaser, TrayAction::None, 1, 1},  // a 2D imager: nothing
        {T::Imager2D, T::None, kTray2D, TrayAction::ReaderSwitched, 0, 1},
        {T::Laser1D955, T::None, kTrayCcdLaser, TrayAction::ReaderSwitched, 0, 1},
        {T::LongRange1D, T::None, kTrayLongRange, TrayAction::ReaderSwitched, 0, 1},
        {T::CcdLaser, T::None, kTrayRfid, TrayAction::None, 1, 1},  // no RFID module
        {T::CcdLaser, T::RfidHex, kTrayRfid, TrayAction::ReaderSwitched, 1, 0},
        {T::CcdLaser, T::RfidHex, kTrayExit, TrayAction::Exit, 1, 1},
    };
    for (const Case& c : cases) {
        TrayMenu menu(1, c.barcode, c.rfid);
        std::int32_t barcodeReady = 1;
        std::int32_t rfidReady = 1;
        EXPECT_EQ(menu.command(c.id, barcodeReady, rfidReady), c.action) << c.id;
        EXPECT_EQ(barcodeReady, c.barcodeAfter) << c.id;
        EXPECT_EQ(rfidReady, c.rfidAfter) << c.id;
    }
    // A second choice switches the reader back on.
    TrayMenu menu(1, T::CcdLaser, T::None);
    std::int32_t barcodeReady = 1;
    std::int32_t rfidReady = 0;
    menu.command(kTrayCcdLaser, barcodeReady, rfidReady);
    menu.command(kTrayCcdLaser, barcodeReady, rfidReady);
    EXPECT_EQ(barcodeReady, 1);
}

TEST(TrayMenuCommands, MaximizeIsOfferedOnlyWhileTheWindowIsHidden) {
    TrayMenu menu(5, T::Laser1D955, T::None);
    auto maximize = [&] {
        for (const TrayItem& item : menu.items(true, false)) {
            if (item.id == kTrayMaximize) {
                return item.enabled;
            }
        }
        return false;
    };
    EXPECT_FALSE(maximize());
    menu.setWindowHidden(true);  // Enter in the main window
    EXPECT_TRUE(maximize());
    std::int32_t barcodeReady = 1;
    std::int32_t rfidReady = 0;
    EXPECT_EQ(menu.command(kTrayMaximize, barcodeReady, rfidReady), TrayAction::Maximize);
    EXPECT_FALSE(maximize());
}

TEST(FirmwareKeySequence, F7MustFollowF4WithinThreeSeconds) {
    struct Press {
        int key;
        std::uint64_t atMs;
        bool opens;
    };
    const std::vector<std::vector<Press>> sequences = {
        {{FirmwareKeys::kF4, 1000, false}, {FirmwareKeys::kF7, 4000, true}},
        {{FirmwareKeys::kF4, 1000, false}, {FirmwareKeys::kF7, 4001, false}},
        {{FirmwareKeys::kF4, 1000, false}, {FirmwareKeys::kF7, 4500, false}},
        // The remembered time is forgotten after an F7, in time or not.
        {{FirmwareKeys::kF4, 1000, false},
         {FirmwareKeys::kF7, 1500, true},
         {FirmwareKeys::kF7, 1600, false}},
        {{FirmwareKeys::kF7, 1000, false}},
        // Other keys between the two leave the sequence alone.
        {{FirmwareKeys::kF4, 0, false}, {13, 100, false}, {FirmwareKeys::kF7, 200, true}},
    };
    for (std::size_t s = 0; s < sequences.size(); ++s) {
        FirmwareKeys keys;
        for (const Press& p : sequences[s]) {
            EXPECT_EQ(keys.keyDown(p.key, p.atMs), p.opens) << "sequence " << s << " at " << p.atMs;
        }
    }
}

TEST(ScreenScale, DoubledOnlyOnA480PixelWideScreen) {
    EXPECT_EQ(screenScale(480), 2);
    EXPECT_EQ(screenScale(240), 1);
    EXPECT_EQ(screenScale(640), 1);
}

}  // namespace
}  // namespace vandora::ui
