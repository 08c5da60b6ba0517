// SettingAccess: one section at a time, as the settings pages and management tools change it.
//
// A section's current values come from where they live: the program's sections ("General",
// "RFID") from AppSettings, an engine's sections from the engine itself (the program's own keys of
// a reader section from AppSettings). Applying a section puts the program's keys into AppSettings,
// sends the engine's keys with the same commands load-all uses, and writes the section into the
// store when asked. Values travel in a scratch IniStore holding the one section, so that texts and
// numbers keep the file's form.
//
// Runs on the main window's thread while no scan is in progress.
#pragma once

#include <string_view>
#include <vector>

#include "config/AppSettings.h"
#include "config/EngineSettings.h"
#include "config/IniStore.h"
#include "config/SectionDef.h"
#include "reader/ReaderManager.h"

namespace vandora {

struct SettingsContext {
    ReaderManager& manager;
    EngineSettings& engine;
    IniStore& store;
    AppSettings& settings;
};

// The sections this terminal holds now, in load-all's order: "General", the barcode engine's
// sections, and "RFID" when an RFID module is there.
std::vector<const SectionDef*> presentSections(const ReaderManager& manager);
// A present section by name (case as the file spells it, compared without case); null when this
// terminal has no such section.
const SectionDef* findPresentSection(const ReaderManager& manager, std::string_view name);

// Writes the section's current values into out (any other content of out is dropped). False,
// with out empty, when the section is not present or the engine did not answer.
bool readCurrent(SettingsContext& context, const SectionDef& section, IniStore& out);

enum class ApplyResult : std::uint8_t {
    Applied,
    NotPresent,     // the terminal has no such section now
    EngineRefused,  // a command was not taken; what went before it was sent
};

// Applies the values that values holds for the section (keys it lacks are left alone) and, when
// writeStore is set, writes them into the context's store.
ApplyResult applySection(SettingsContext& context, const SectionDef& section, IniStore& values,
                         bool writeStore);

}  // namespace vandora
