#include "config/SettingAccess.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "config/SectionTransfer.h"
#include "config/SettingSections.h"
#include "config/engines/SettingsPlan.h"

namespace vandora {

namespace {

bool sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

bool contains(const std::vector<const SectionDef*>& sections, const SectionDef& section) {
    return std::find(sections.begin(), sections.end(), &section) != sections.end();
}

// The RFID keys the module exchanges (hasRfid is only ever written by save-all).
std::array<FieldRef, kRfidKeyCount> rfidRefs(AppSettings& settings, const RfidPlan& plan) {
    std::array<FieldRef, kRfidKeyCount> refs = settings.rfidFields();
    refs[key(kRfid, "hasRfid").index] = nullptr;
    for (KeyRef left : plan.leftOut) {
        if (left.isSet()) {
            refs[left.index] = nullptr;
        }
    }
    return refs;
}

}  // namespace

std::vector<const SectionDef*> presentSections(const ReaderManager& manager) {
    std::vector<const SectionDef*> sections{&kGeneral};
    EngineType barcode = manager.barcode.engineType;
    if (const FamilyPlan* plan = settingsPlan(barcode).barcode) {
        for (const SectionStep& step : plan->load) {
            if (step.types.has(barcode) && !contains(sections, *step.section)) {
                sections.push_back(step.section);
            }
        }
    }
    const RfidPlan* rfid = settingsPlan(manager.rfid.engineType).rfid;
    if (rfid != nullptr) {
        sections.push_back(&kRfid);
    }
    return sections;
}

const SectionDef* findPresentSection(const ReaderManager& manager, std::string_view name) {
    for (const SectionDef* section : presentSections(manager)) {
        if (sameName(section->name, name)) {
            return section;
        }
    }
    return nullptr;
}

bool readCurrent(SettingsContext& context, const SectionDef& section, IniStore& out) {
    out.clear();
    if (!contains(presentSections(context.manager), section)) {
        return false;
    }
    if (&section == &kGeneral) {
        auto refs = context.settings.generalFields();
        return accessSection(out, kGeneral, kDirectionWrite, std::span<const FieldRef>(refs)) != 0;
    }
    if (&section == &kRfid) {
        auto refs = rfidRefs(context.settings, *settingsPlan(context.manager.rfid.engineType).rfid);
        return accessSection(out, kRfid, kDirectionWrite, std::span<const FieldRef>(refs)) != 0;
    }
    ReaderChannel& barcode = context.manager.barcode;
    const SettingsPlan& plan = settingsPlan(barcode.engineType);
    EngineLink link{context.manager, barcode, context.engine.paramCache(), plan.barcode->commands(),
                    barcode.engineType};
    SectionStep step{&section};
    if (!saveSection(link, out, step, KeyRef{}, context.settings)) {
        out.clear();
        return false;
    }
    return true;
}

ApplyResult applySection(SettingsContext& context, const SectionDef& section, IniStore& values,
                         bool writeStore) {
    if (!contains(presentSections(context.manager), section)) {
        return ApplyResult::NotPresent;
    }
    ApplyResult result = ApplyResult::Applied;
    if (&section == &kGeneral) {
        auto refs = context.settings.generalFields();
        accessSection(values, kGeneral, kDirectionRead, std::span<const FieldRef>(refs));
    } else if (&section == &kRfid) {
        auto refs = rfidRefs(context.settings, *settingsPlan(context.manager.rfid.engineType).rfid);
        accessSection(values, kRfid, kDirectionRead, std::span<const FieldRef>(refs));
    } else {
        ReaderChannel& barcode = context.manager.barcode;
        const SettingsPlan& plan = settingsPlan(barcode.engineType);
        EngineLink link{context.manager, barcode, context.engine.paramCache(),
                        plan.barcode->commands(), barcode.engineType};
        int refused = 0;
        loadSection(link, values, section, context.settings, &refused);
        if (refused > 0) {
            result = ApplyResult::EngineRefused;
        }
    }
    if (writeStore && result == ApplyResult::Applied) {
        const IniSection* from = values.findSection(ByteString::fromBytes(section.name));
        if (from != nullptr) {
            IniSection* to = context.store.findOrAddSection(ByteString::fromBytes(section.name));
            for (const IniEntry& entry : from->entries()) {
                context.store.setString(to, entry.key, entry.value);
            }
        }
    }
    return result;
}

}  // namespace vandora
