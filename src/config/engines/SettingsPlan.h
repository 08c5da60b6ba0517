// SettingsPlan: what the settings layer does with each engine type, as data. One row per engine
// type says which family plan moves its settings, which has-flag names it, and what an RFID
// module exchanges and needs at set-up. A family plan holds its command set, the sections load-all
// sends and save-all writes (with the engine types each applies to), how the engine is readied for
// its default set, and the order of the default set's commands.
//
// Load-all, save-all, the default sets and "Restore Defaults" read these rows instead of switching
// on the engine type: a new engine type is a row here (and in the engine table), plus its family
// plan when it brings a new command family.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "config/SettingSections.h"
#include "config/engines/CommandSet.h"
#include "reader/ReaderManager.h"

namespace vandora {

// A section that load-all sends or save-all writes, on the engine types listed.
struct SectionStep {
    const SectionDef* section = nullptr;
    TypeSet types = TypeSet::every();
    // Save-all writes the section even when reading it from the engine fails.
    bool writeEvenIfReadFails = false;
};

// One command of a default set, sent on the engine types listed with every argument that has a
// default value for the type (the values are columns of the command tables).
struct DefaultStep {
    CommandId command = 0;
    TypeSet types = TypeSet::every();
    // The command's second sending: its arguments' second values.
    bool again = false;
};

struct FamilyPlan {
    const CommandSet& (*commands)() = nullptr;
    // In the order load-all sends them.
    std::span<const SectionStep> load;
    // In the order save-all writes them.
    std::span<const SectionStep> save;
    // Readies a freshly opened engine for its default set; 0 when the engine was lost.
    std::int32_t (*prepareDefaults)(ReaderChannel& channel, ParamCache& cache) = nullptr;
    // Sent in this order once the engine is ready. The single results are not looked at.
    std::span<const DefaultStep> defaults;
};

// What an RFID module set-up sends, besides the settings.
enum class RfidSetup : std::uint8_t {
    None,
    AsciiRegisters,  // two register writes until echoed, then the registers read back
    HexFrames,       // two set-up frames, each once per program run
};

struct RfidPlan {
    // "RFID" keys this module type does not exchange (besides hasRfid, which load-all never
    // reads).
    std::array<KeyRef, 2> leftOut{};
    RfidSetup setup = RfidSetup::None;
};

struct SettingsPlan {
    EngineType type = EngineType::None;
    // The barcode engine's settings plan; null: no settings are moved.
    const FamilyPlan* barcode = nullptr;
    // The reader section key save-all writes as 1 and the start-up reads as the hint.
    KeyRef hasFlag{};
    // The RFID module's plan; null: the RFID keys are not exchanged.
    const RfidPlan* rfid = nullptr;
};

// The row of a type; an unknown type gets the row of type 0 (no engine).
const SettingsPlan& settingsPlan(EngineType type);
// Every row, in type order.
std::span<const SettingsPlan> settingsPlans();
// The types whose has-flags give the start-up hint, in the order they win.
std::span<const EngineType> hintOrder();

// The family plans.
extern const FamilyPlan kCcdFamily;
extern const FamilyPlan kPacketFamily;

}  // namespace vandora
