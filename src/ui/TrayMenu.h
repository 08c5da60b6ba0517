// TrayMenu: the tray icon's menu and the main window's own logic, without a toolkit.
//
// The menu is built once for the terminal model and the engines found: one reader switch per
// engine kind the model can carry, then "Maximize" and "Exit". A switch is on (enabled, checked
// while its reader reads) when the terminal's engine is of its kind, grey otherwise. Choosing a
// switch flips its reader on or off; "Maximize" is enabled only while the window is hidden.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "reader/ReaderTypes.h"

namespace vandora::ui {

inline constexpr int kTrayCcdLaser = 10000;
inline constexpr int kTrayLongRange = 10001;
inline constexpr int kTray2D = 10002;
inline constexpr int kTrayRfid = 10003;
inline constexpr int kTrayExit = 10004;
inline constexpr int kTrayMaximize = 10005;

struct TrayItem {
    int id = 0;  // 0: a separator
    std::string text;
    bool enabled = false;
    bool checked = false;
};

// What a menu command asks of the window.
enum class TrayAction : std::uint8_t { None, ReaderSwitched, Maximize, Exit };

class TrayMenu {
  public:
    TrayMenu(std::int32_t model, EngineType barcode, EngineType rfid);

    // The items in menu order, with the check marks for the readers' current switches.
    std::vector<TrayItem> items(bool barcodeReady, bool rfidReady) const;
    // A command: a reader switch flips barcodeReady or rfidReady when the terminal's engine
    // matches it (otherwise nothing happens); "Maximize" and "Exit" are passed on.
    TrayAction command(int id, std::int32_t& barcodeReady, std::int32_t& rfidReady);
    // The window was hidden (Enter) or shown: "Maximize" is enabled only while hidden.
    void setWindowHidden(bool hidden) { hidden_ = hidden; }

  private:
    std::int32_t model_;
    EngineType barcode_;
    EngineType rfid_;
    bool hidden_ = false;
};

// The layout the desktop's width asks for: 2 (640 x 480, every size doubled) on a 480-pixel
// wide screen, else 1 (320 x 300).
int screenScale(int desktopWidth);

// The hidden key sequence that opens the firmware upload: F4, then F7 within 3 seconds.
class FirmwareKeys {
  public:
    static constexpr int kF4 = 115;
    static constexpr int kF7 = 118;
    // A key press at nowMs; true when the firmware warning is to be shown.
    bool keyDown(int virtualKey, std::uint64_t nowMs);

  private:
    std::optional<std::uint64_t> f4At_;
};

}  // namespace vandora::ui
