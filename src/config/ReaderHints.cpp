#include <array>

#include "config/SettingsTransfer.h"
#include "config/engines/SettingsPlan.h"

namespace vandora {

namespace {

// The integer value of one key; 0 when the section or the key is missing.
std::int32_t intValue(IniStore& store, KeyRef key) {
    std::int32_t value = 0;
    if (key.section == nullptr) {
        return value;
    }
    std::array<std::int32_t*, kMaxSectionKeys> refs{};
    refs[key.index] = &value;
    accessSection(store, *key.section, kDirectionRead,
                  std::span<std::int32_t* const>(refs.data(), key.index + 1u));
    return value;
}

}  // namespace

ReaderHints readerHints(const IniStore& constStore) {
    ReaderHints hints;
    if (constStore.isEmpty()) {
        return hints;
    }
    // The accessors take the store for both directions; reading leaves it as it is.
    IniStore& store = const_cast<IniStore&>(constStore);
    hints.barcode = EngineType::None;
    for (EngineType type : hintOrder()) {
        if (intValue(store, settingsPlan(type).hasFlag) != 0) {
            hints.barcode = type;
            break;
        }
    }
    hints.rfid = engineTypeFromNumber(intValue(store, key(kRfid, "hasRfid")));
    return hints;
}

}  // namespace vandora
