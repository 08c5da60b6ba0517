// SettingsTransfer: moves settings between the INI store, AppSettings and the engines.
//
// - readerHints: the start-up hints for the reader manager, from the has-flags of the file.
// - loadAll: after the readers have started, the file's values go into AppSettings and the
//   file's engine settings are sent to the engine, section by section (a section missing from
//   the file sends nothing, so the engine keeps its default set).
// - saveAll: at quit, every setting is read back from the engine into the store (a section whose
//   read fails keeps its old contents).
// - restoreDefaults: the default sets again, AppSettings reset, and the symbology enables the
//   engine now reports written into their sections.
// Which sections, in which order, and which keys go to which engine command, is the data of the
// engine type's settings plan (engines/SettingsPlan.h) and its family's command tables.
// These run on the main window's thread while no scan is in progress.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "config/AppSettings.h"
#include "config/EngineSettings.h"
#include "config/IniStore.h"
#include "config/SettingSections.h"
#include "reader/ReaderManager.h"

namespace vandora {

struct ReaderHints {
    EngineType barcode = EngineType::Detect;
    EngineType rfid = EngineType::Detect;
};

// Both "detect" for an empty store; otherwise from hasCCD, has2D, has2D_4507, has1DLR,
// has1D_955 (in that order of preference) and hasRfid, absent keys counting as 0.
ReaderHints readerHints(const IniStore& store);

// Told each section that was sent to the engine (load) or written into the store (save).
using SectionCallback = std::function<void(const SectionDef&)>;

// Told, after a reader section went to the engine, whether the engine reads by itself in the
// scan mode it took (so the continuous-scan thread must keep reading) or not.
using ContinuousScanCallback = std::function<void(bool readsBySelf)>;

// Whether the barcode engine reads by itself in the scan mode it last took (its engine row's
// self-scanning modes). What start-up, a settings page's OK and a change over the bus decide
// continuous scanning by once a reader section went to the engine.
bool barcodeReadsBySelf(const ReaderManager& manager);

void loadAll(ReaderManager& manager, EngineSettings& engine, IniStore& store, AppSettings& settings,
             const SectionCallback& onSection = {},
             const ContinuousScanCallback& onContinuousScan = {});
void saveAll(ReaderManager& manager, EngineSettings& engine, IniStore& store, AppSettings& settings,
             const SectionCallback& onSection = {});

// One symbology's enable as the engine reports it after a restore.
struct SymbologyEnable {
    const SectionDef* section;
    std::int32_t enable;
};

std::vector<SymbologyEnable> restoreDefaults(ReaderManager& manager, EngineSettings& engine,
                                             IniStore& store, AppSettings& settings);

}  // namespace vandora
