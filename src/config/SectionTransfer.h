// SectionTransfer: one section moved between the INI store and the engine, as the engine family's
// command set binds the section's keys to command arguments. Load-all, save-all and "Restore
// Defaults" are walks over a plan's sections with these.
#pragma once

#include <cstdint>
#include <functional>

#include "config/AppSettings.h"
#include "config/IniStore.h"
#include "config/SettingSections.h"
#include "config/engines/CommandSet.h"
#include "config/engines/SettingsPlan.h"
#include "reader/ReaderManager.h"

namespace vandora {

// The engine a section goes to or comes from.
struct EngineLink {
    ReaderManager& manager;
    ReaderChannel& channel;
    ParamCache& cache;
    const CommandSet& commands;
    EngineType type;
};

// Sends the file's values of a section to the engine; the program's own keys of the section
// (enableBarcode, the picture switch) go into settings. A section missing from the file sends
// nothing; false then. refused, when given, counts the commands the engine did not take.
bool loadSection(const EngineLink& engine, IniStore& store, const SectionDef& section,
                 AppSettings& settings, int* refused = nullptr);

// Reads a section from the engine and writes it into the store with the program's own keys and
// the engine's has-flag. The section is written when the last read succeeds, or always when
// step.writeEvenIfReadFails; true when written.
bool saveSection(const EngineLink& engine, IniStore& store, const SectionStep& step, KeyRef hasFlag,
                 AppSettings& settings);

// For a symbology section with an enable: reads the enable from the engine and writes only that
// key into the store. False when the section has none or the read fails.
bool restoreEnable(const EngineLink& engine, IniStore& store, const SectionDef& section,
                   std::int32_t& enable);

}  // namespace vandora
