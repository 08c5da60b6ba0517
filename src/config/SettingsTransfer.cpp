#include "config/SettingsTransfer.h"

#include <array>

#include "config/SectionTransfer.h"
#include "config/engines/SettingsPlan.h"
#include "reader/engines/EngineTable.h"

namespace vandora {

namespace {

void notify(const SectionCallback& onSection, const SectionDef& section) {
    if (onSection) {
        onSection(section);
    }
}

constexpr KeyRef kHasRfid = key(kRfid, "hasRfid");

// The reader sections' scan modes in which the engine reads by itself.
struct SelfScanModes {
    KeyRef scanMode;
    ModeSet modes;
};
constexpr SelfScanModes kSelfScanModes[] = {
    {key(kReaderCcd, "scanMode"), {1, 7}},
    {key(kReader2D, "scanMode"), {7}},
    {key(kReader1DLr, "scanMode"), {4}},
};

const SelfScanModes* selfScanModesOf(const SectionDef& section) {
    for (const SelfScanModes& row : kSelfScanModes) {
        if (row.scanMode.in(section)) {
            return &row;
        }
    }
    return nullptr;
}

// A reader section that went to the engine: its stored scan mode decides whether the
// continuous-scan thread reads. A section without the key leaves the engine in its default mode,
// in which it does not read by itself.
void tellContinuousScan(IniStore& store, const SectionDef& section,
                        const ContinuousScanCallback& onContinuousScan) {
    const SelfScanModes* row = selfScanModesOf(section);
    if (!onContinuousScan || row == nullptr) {
        return;
    }
    std::int32_t mode = -1;
    std::array<std::int32_t*, kMaxSectionKeys> refs{};
    refs[row->scanMode.index] = &mode;
    accessSection(store, section, kDirectionRead,
                  std::span<std::int32_t* const>(refs.data(), section.keys.size()));
    onContinuousScan(row->modes.has(mode));
}

// The RFID keys a module type exchanges: all but hasRfid and the ones its plan leaves out.
std::array<FieldRef, kRfidKeyCount> rfidRefs(AppSettings& settings, const RfidPlan& plan) {
    std::array<FieldRef, kRfidKeyCount> refs = settings.rfidFields();
    refs[kHasRfid.index] = nullptr;
    for (KeyRef left : plan.leftOut) {
        if (left.isSet()) {
            refs[left.index] = nullptr;
        }
    }
    return refs;
}

}  // namespace

bool scanModeReadsBySelf(const SectionDef& readerSection, std::int32_t scanMode) {
    const SelfScanModes* row = selfScanModesOf(readerSection);
    return row != nullptr && row->modes.has(scanMode);
}

void loadAll(ReaderManager& manager, EngineSettings& engine, IniStore& store, AppSettings& settings,
             const SectionCallback& onSection, const ContinuousScanCallback& onContinuousScan) {
    auto general = settings.generalFields();
    accessSection(store, kGeneral, kDirectionRead, std::span<const FieldRef>(general));

    ReaderChannel& barcode = manager.barcode;
    const SettingsPlan& plan = settingsPlan(barcode.engineType);
    if (plan.barcode != nullptr) {
        EngineLink link{manager, barcode, engine.paramCache(), plan.barcode->commands(),
                        barcode.engineType};
        for (const SectionStep& step : plan.barcode->load) {
            if (step.types.has(barcode.engineType) &&
                loadSection(link, store, *step.section, settings)) {
                notify(onSection, *step.section);
                // After the section went out, so that the engine is in its new mode when the
                // continuous-scan thread first reads.
                tellContinuousScan(store, *step.section, onContinuousScan);
            }
        }
    } else {
        settings.enableBarcode = 0;
    }

    if (const RfidPlan* rfid = settingsPlan(manager.rfid.engineType).rfid) {
        auto refs = rfidRefs(settings, *rfid);
        accessSection(store, kRfid, kDirectionRead, std::span<const FieldRef>(refs));
    } else {
        settings.enableRfid = 0;
    }
}

void saveAll(ReaderManager& manager, EngineSettings& engine, IniStore& store, AppSettings& settings,
             const SectionCallback& onSection) {
    auto general = settings.generalFields();
    accessSection(store, kGeneral, kDirectionWrite, std::span<const FieldRef>(general));
    notify(onSection, kGeneral);

    ReaderChannel& barcode = manager.barcode;
    const SettingsPlan& plan = settingsPlan(barcode.engineType);
    if (plan.barcode != nullptr) {
        EngineLink link{manager, barcode, engine.paramCache(), plan.barcode->commands(),
                        barcode.engineType};
        for (const SectionStep& step : plan.barcode->save) {
            if (step.types.has(barcode.engineType) &&
                saveSection(link, store, step, plan.hasFlag, settings)) {
                notify(onSection, *step.section);
            }
        }
    }

    EngineType rfidType = manager.rfid.engineType;
    if (const RfidPlan* rfid = settingsPlan(rfidType).rfid) {
        auto refs = rfidRefs(settings, *rfid);
        settings.hasRfid = toNumber(rfidType);
        refs[kHasRfid.index] = &settings.hasRfid;
        accessSection(store, kRfid, kDirectionWrite, std::span<const FieldRef>(refs));
        notify(onSection, kRfid);
    }
}

std::vector<SymbologyEnable> restoreDefaults(ReaderManager& manager, EngineSettings& engine,
                                             IniStore& store, AppSettings& settings) {
    engine.applyDefaults(manager, kBarcodePort);
    engine.applyDefaults(manager, kRfidPort);
    settings.resetToDefaults();
    std::vector<SymbologyEnable> enables;
    ReaderChannel& barcode = manager.barcode;
    const FamilyPlan* plan = settingsPlan(barcode.engineType).barcode;
    if (plan == nullptr) {
        return enables;
    }
    EngineLink link{manager, barcode, engine.paramCache(), plan->commands(), barcode.engineType};
    for (const SectionStep& step : plan->load) {
        std::int32_t enable = 0;
        if (step.types.has(barcode.engineType) &&
            restoreEnable(link, store, *step.section, enable)) {
            enables.push_back({step.section, enable});
        }
    }
    return enables;
}

}  // namespace vandora
