// One row of facts per terminal model: the name the registry gives it, the system library that
// drives its buzzer, LED and vibrator, how the engine-ready line is read, what becomes of a
// picture, which decoder firmware it takes, where its RFID module sits, what the window offers
// and in which order engines are looked for. Everything that differs by terminal model is looked
// up here by name instead of comparing model numbers in many places: a new model is a new row
// (plus its simulator's description).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "reader/ReaderTypes.h"
#include "reader/engines/EngineTable.h"

namespace vandora {

// What the terminal does with the imager's picture bytes.
enum class PictureHandling : std::uint8_t {
    Refused,     // no rule: a stale or empty buffer must not pass for a picture
    AsReceived,  // the bytes are the picture as they are
    Converted,   // turned upright and encoded in the chosen format
};

// The reader switches of the tray menu, in menu order.
enum class TraySwitch : std::uint8_t { None, Laser, Imager2D, LongRange, Rfid };

// One reader switch a model's tray menu carries: its text and the engines that turn it on.
struct TrayReaderSwitch {
    TraySwitch which = TraySwitch::None;
    const char* text = "";
    TypeSet on{};
};

struct TerminalModel {
    std::int32_t model = DeviceModel::Unknown;
    // The text of "DeviceModel" (or "Name") under the registry's "Ident" key ("": none).
    const char* registryName = "";
    // The terminal system library in the system folder ("": none is loaded).
    const char* sysLibrary = "";
    // The engine-ready line is read through the kernel's control; otherwise the port's own modem
    // lines are used.
    bool kernelReadyLine = false;
    PictureHandling picture = PictureHandling::Refused;
    // DAT decoder firmware may be uploaded to the newer imager.
    bool datFirmware = false;
    // After a DAT upload the engine restarts at its loader rate and is moved back to its working
    // rate.
    bool reopenAfterDat = false;
    // The shortest time the good-read LED is lit (0: as asked).
    std::uint32_t minLedMs = 0;
    // The RFID port is the binary link's: opening and closing it go to the link, not to a port.
    bool rfidOverLink = false;
    // The window has an RFID line, RFID pages and the RFID display fields.
    bool rfidInWindow = true;
    // The notifications page offers the LED and the buzzer.
    bool signalFields = false;
    // The engine types tried, in order, when detecting on each port.
    std::span<const DetectStep> barcodeDetect{};
    std::span<const DetectStep> rfidDetect{};
    // The tray menu's reader switches (none: the menu has only "Maximize" and "Exit").
    std::array<TrayReaderSwitch, 4> tray{};
};

// The row of a model number; a number that names no model gets the unknown model's row.
const TerminalModel& terminalModel(std::int32_t model);
// The model a registry text names (exact, case-sensitive), or DeviceModel::Unknown.
std::int32_t modelFromRegistryName(std::string_view text);

// The candidates tried when detecting on a port, by terminal model.
std::span<const DetectStep> detectOrder(std::int32_t port, std::int32_t model);

}  // namespace vandora
