#include "ui/TrayMenu.h"

#include "reader/TerminalModels.h"

namespace vandora::ui {

namespace {

using T = EngineType;

// The menu item of each reader switch of the model table.
int itemOf(TraySwitch which) {
    switch (which) {
        case TraySwitch::Laser:
            return kTrayCcdLaser;
        case TraySwitch::Imager2D:
            return kTray2D;
        case TraySwitch::LongRange:
            return kTrayLongRange;
        case TraySwitch::Rfid:
            return kTrayRfid;
        case TraySwitch::None:
            break;
    }
    return 0;
}

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

}  // namespace

TrayMenu::TrayMenu(std::int32_t model, EngineType barcode, EngineType rfid)
    : model_(model), barcode_(barcode), rfid_(rfid) {}

std::vector<TrayItem> TrayMenu::items(bool barcodeReady, bool rfidReady) const {
    std::vector<TrayItem> out;
    for (const TrayReaderSwitch& s : terminalModel(model_).tray) {
        int id = itemOf(s.which);
        if (id == 0) {
            continue;
        }
        bool isRfid = s.which == TraySwitch::Rfid;
        bool on = s.on.has(isRfid ? rfid_ : barcode_);
        bool ready = isRfid ? rfidReady : barcodeReady;
        out.push_back({id, s.text, on, on && ready});
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
