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

// The reader sections, whose scan mode decides whether the engine reads by itself.
constexpr KeyRef kScanModes[] = {
    key(kReaderCcd, "scanMode"),
    key(kReader2D, "scanMode"),
    key(kReader1DLr, "scanMode"),
};

bool holdsScanMode(const SectionDef& section) {
    for (KeyRef scanMode : kScanModes) {
        if (scanMode.in(section)) {
            return true;
        }
    }
    return false;
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

bool barcodeReadsBySelf(const ReaderManager& manager) {
    return readsBySelf(manager.barcodeEngineType(), manager.scanMode);
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
                if (onContinuousScan && holdsScanMode(*step.section)) {
                    onContinuousScan(barcodeReadsBySelf(manager));
                }
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
