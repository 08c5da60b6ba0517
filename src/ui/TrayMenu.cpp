#include "ui/TrayMenu.h"

#include <array>

#include "config/engines/SettingRow.h"

namespace vandora::ui {

namespace {

// One reader switch: its item, and the engine types that turn it on for a terminal model.
struct Switch {
    int id = 0;
    const char* text = "";
    TypeSet on;
};

// The switches a terminal model's menu carries, in menu order; models not listed have none.
struct ModelMenu {
    std::int32_t model;
    std::array<Switch, 4> switches;
};

using T = EngineType;
// clang-format off
constexpr ModelMenu kMenus[] = {
    {1, {{{kTrayCcdLaser, "CCD/Laser", {T::CcdLaser}}, {kTray2D, "2D", {T::Imager2D, T::Imager2D4507}},
          {kTrayRfid, "RFID", {T::RfidHex, T::RfidBinaryLink}}, {}}}},
    {4, {{{kTrayCcdLaser, "CCD/Laser", {T::CcdLaser}}, {kTray2D, "2D", {T::Imager2D, T::Imager2D4507}},
          {kTrayRfid, "RFID", {T::RfidHex, T::RfidBinaryLink}}, {}}}},
    {2, {{{kTrayCcdLaser, "CCD/Laser", {T::CcdLaser}}, {kTray2D, "2D", {T::Imager2D}},
          {kTrayLongRange, "Long Range Laser", {T::LongRange1D}},
          {kTrayRfid, "RFID", {T::RfidAscii}}}}},
    {5, {{{kTrayCcdLaser, "1D Laser", {T::Laser1D955}}, {kTray2D, "2D", {T::Imager2D4507}}, {}, {}}}},
};

// Which engines a switch command acts on, whatever the model.
struct CommandRow {
    int id;
    TypeSet engines;
};
constexpr CommandRow kCommands[] = {
    {kTrayCcdLaser, {T::CcdLaser, T::Laser1D955}},
    {kTrayLongRange, {T::LongRange1D}},
    {kTray2D, {T::Imager2D, T::Imager2D4507}},
    {kTrayRfid, {T::RfidAscii, T::RfidHex, T::RfidBinaryLink}},
};
// clang-format on

const ModelMenu* menuOf(std::int32_t model) {
    for (const ModelMenu& menu : kMenus) {
        if (menu.model == model) {
            return &menu;
        }
    }
    return nullptr;
}

}  // namespace

TrayMenu::TrayMenu(std::int32_t model, EngineType barcode, EngineType rfid)
    : model_(model), barcode_(barcode), rfid_(rfid) {}

std::vector<TrayItem> TrayMenu::items(bool barcodeReady, bool rfidReady) const {
    std::vector<TrayItem> out;
    if (const ModelMenu* menu = menuOf(model_)) {
        for (const Switch& s : menu->switches) {
            if (s.id == 0) {
                continue;
            }
            bool isRfid = s.id == kTrayRfid;
            bool on = s.on.has(isRfid ? rfid_ : barcode_);
            bool ready = isRfid ? rfidReady : barcodeReady;
            out.push_back({s.id, s.text, on, on && ready});
        }
    }
    out.push_back({0, "", false, false});
    out.push_back({kTrayMaximize, "Maximize", hidden_, false});
    out.push_back({kTrayExit, "Exit", true, false});
    return out;
}

TrayAction TrayMenu::command(int id, std::int32_t& barcodeReady, std::int32_t& rfidReady) {
    if (id == kTrayMaximize) {
        hidden_ = false;
        return TrayAction::Maximize;
    }
    if (id == kTrayExit) {
        return TrayAction::Exit;
    }
    for (const CommandRow& row : kCommands) {
        if (row.id != id) {
            continue;
        }
        bool isRfid = id == kTrayRfid;
        if (!row.engines.has(isRfid ? rfid_ : barcode_)) {
            return TrayAction::None;
        }
        std::int32_t& flag = isRfid ? rfidReady : barcodeReady;
        flag = flag == 0 ? 1 : 0;
        return TrayAction::ReaderSwitched;
    }
    return TrayAction::None;
}

int screenScale(int desktopWidth) {
    return desktopWidth == 480 ? 2 : 1;
}

bool FirmwareKeys::keyDown(int virtualKey, std::uint64_t nowMs) {
    constexpr std::uint64_t kWindowMs = 3001;
    if (virtualKey == kF4) {
        f4At_ = nowMs;
        return false;
    }
    if (virtualKey != kF7 || !f4At_) {
        return false;
    }
    bool inTime = nowMs - *f4At_ < kWindowMs;
    f4At_.reset();
    return inTime;
}

}  // namespace vandora::ui
