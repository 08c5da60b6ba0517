#include "runtime/Management.h"

#include <cstdint>
#include <memory>
#include <sstream>
#include <vector>

#include "common/Utf.h"
#include "config/SettingAccess.h"
#include "config/SettingLimits.h"
#include "config/SettingSections.h"
#include "config/SettingsTransfer.h"

namespace vandora {

namespace {

constexpr auto kCounterInterval = std::chrono::seconds(1);

const SectionKey* findKey(const SectionDef& section, const std::string& name) {
    ByteString wanted(name.c_str());
    wanted.toLower();
    for (const SectionKey& key : section.keys) {
        ByteString candidate = ByteString::fromBytes(key.name);
        candidate.toLower();
        if (candidate == wanted) {
            return &key;
        }
    }
    return nullptr;
}

SettingAnswer refusal(const char* error, std::string message) {
    return {error, std::move(message), {}};
}

// One value of a section for a change: the section, its key and the new text.
struct Change {
    const SectionDef* section;
    const SectionKey* key;
    std::string value;
};

// Checks a change; an empty answer error when it may be applied.
SettingAnswer check(ReaderService& service, const std::string& sectionName,
                    const std::string& keyName, const std::string& value, Change& change) {
    const SectionDef* section = findPresentSection(service.readers(), sectionName);
    if (section == nullptr) {
        return refusal(kUnknownSettingError, "no section [" + sectionName + "] on this terminal");
    }
    const SectionKey* key = findKey(*section, keyName);
    if (key == nullptr) {
        return refusal(kUnknownSettingError,
                       "no key " + keyName + " in [" + std::string(section->name) + "]");
    }
    std::string why;
    if (!settingValueValid(*section, *key, value, why)) {
        // A refused key is not repeated: the message may end up in a tool's log.
        std::string shown = settingIsSecret(*section, key->name) ? std::string() : "=" + value;
        return refusal(kInvalidValueError, "[" + std::string(section->name) + "] " +
                                               std::string(key->name) + shown + ": " + why);
    }
    change = {section, key, value};
    return {};
}

// Applies changes of one section: current values, the changes over them, sent and stored.
SettingAnswer apply(ReaderService& service, const SectionDef& section,
                    const std::vector<Change>& changes) {
    SettingsContext context = service.settingsContext();
    IniStore values;
    if (!readCurrent(context, section, values)) {
        return refusal(kEngineRefusedError,
                       "the engine did not give [" + std::string(section.name) + "]");
    }
    IniSection* target = values.findOrAddSection(ByteString::fromBytes(section.name));
    for (const Change& change : changes) {
        values.setString(target, ByteString::fromBytes(change.key->name), fromUtf8(change.value));
    }
    switch (applySection(context, section, values, true)) {
        case ApplyResult::Applied:
            break;
        case ApplyResult::NotPresent:
            return refusal(kUnknownSettingError,
                           "no section [" + std::string(section.name) + "] on this terminal");
        case ApplyResult::EngineRefused:
            return refusal(kEngineRefusedError,
                           "the engine refused [" + std::string(section.name) + "]");
    }
    // A changed scan mode decides continuous scanning as at start-up: by the mode the engine took.
    for (const Change& change : changes) {
        if (change.key->name == "scanMode") {
            service.setContinuousScan(barcodeReadsBySelf(service.readers()));
            break;
        }
    }
    return {};
}

std::string trimmed(const std::string& text) {
    std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) {
        return {};
    }
    std::size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

}  // namespace

Management::Management(ReaderService& service, ReaderBusObject& bus)
    : service_(service), bus_(bus) {
    service_.setStateListener([this] { refresh(); });
}

Management::~Management() {
    service_.setStateListener({});
    if (bus_.management() == this) {
        bus_.setManagement(nullptr);
    }
    if (timer_ >= 0) {
        service_.loop().cancelTimer(timer_);
    }
}

ReaderStatus Management::status() const {
    ReaderManager& readers = service_.readers();
    ReaderStatus st;
    st.model = readers.deviceModel();
    st.barcodeEngine = toNumber(readers.barcode.engineType);
    st.barcodeBaud = st.barcodeEngine != 0 ? readers.barcode.baudRate : 0;
    st.rfidModule = toNumber(readers.rfid.engineType);
    st.rfidVariant = readers.rfid.rfidVariant;
    st.firmwareVersion = utf8Of(service_.firmwareVersion());
    st.barcodeReady = readers.barcodeReady != 0;
    st.rfidReady = readers.rfidReady != 0;
    st.status = utf8Of(service_.lastStatus());
    st.lastError = service_.lastReadError();
    st.goodReads = service_.goodReads();
    st.failedReads = service_.failedReads();
    return st;
}

void Management::refresh() {
    ReaderStatus now = status();
    const ReaderStatus& sent = bus_.status();
    auto since = std::chrono::steady_clock::now() - countersSent_;
    bool countersMoved = now.goodReads != sent.goodReads || now.failedReads != sent.failedReads;
    if (countersMoved && since < kCounterInterval) {
        // The counters keep their last values until the second is up.
        now.goodReads = sent.goodReads;
        now.failedReads = sent.failedReads;
        if (timer_ < 0) {
            auto wait =
                std::chrono::duration_cast<std::chrono::milliseconds>(kCounterInterval - since);
            timer_ = service_.loop().addTimer(static_cast<std::uint32_t>(wait.count()) + 1, [this] {
                timer_ = -1;
                refresh();
            });
        }
    } else if (countersMoved) {
        countersSent_ = std::chrono::steady_clock::now();
    }
    bus_.publishStatus(now);
    if (follower_) {
        follower_(now);
    }
}

SettingAnswer Management::getSetting(const std::string& section, const std::string& key,
                                     bool mayChange) {
    const SectionDef* def = findPresentSection(service_.readers(), section);
    const SectionKey* found = def != nullptr ? findKey(*def, key) : nullptr;
    if (found == nullptr) {
        return refusal(kUnknownSettingError, "no setting [" + section + "] " + key);
    }
    if (!mayChange && settingIsSecret(*def, found->name)) {
        return refusal(kAccessDeniedError, "[" + std::string(def->name) + "] " +
                                               std::string(found->name) +
                                               " is a secret: only for callers who may change "
                                               "settings");
    }
    SettingsContext context = service_.settingsContext();
    IniStore values;
    if (!readCurrent(context, *def, values)) {
        return refusal(kEngineRefusedError,
                       "the engine did not give [" + std::string(def->name) + "]");
    }
    ByteString value;
    values.getString(values.findSection(ByteString::fromBytes(def->name)),
                     ByteString::fromBytes(found->name), value);
    return {{}, {}, utf8Of(value)};
}

SettingAnswer Management::setSetting(const std::string& section, const std::string& key,
                                     const std::string& value) {
    if (service_.busy()) {
        return refusal(kEngineRefusedError, "the readers are starting; try again");
    }
    Change change{};
    SettingAnswer checked = check(service_, section, key, value, change);
    if (!checked.error.empty() || change.section == nullptr) {
        return checked;
    }
    SettingAnswer applied = apply(service_, *change.section, {change});
    if (applied.error.empty()) {
        // Kept at once: a crash or a power loss before quit must not lose it.
        service_.saveSettings();
    }
    return applied;
}

SettingAnswer Management::exportSettings(bool mayChange) {
    std::string text;
    SettingsContext context = service_.settingsContext();
    for (const SectionDef* section : presentSections(service_.readers())) {
        IniStore values;
        if (!readCurrent(context, *section, values)) {
            continue;
        }
        const IniSection* stored = values.findSection(ByteString::fromBytes(section->name));
        text += "[" + std::string(section->name) + "]\n";
        for (const SectionKey& key : section->keys) {
            if (!mayChange && settingIsSecret(*section, key.name)) {
                continue;
            }
            ByteString value;
            if (values.getString(stored, ByteString::fromBytes(key.name), value) != 0) {
                text += std::string(key.name) + "=" + utf8Of(value) + "\n";
            }
        }
        text += "\n";
    }
    return {{}, {}, text};
}

SettingAnswer Management::importSettings(const std::string& ini) {
    if (service_.busy()) {
        return refusal(kEngineRefusedError, "the readers are starting; try again");
    }
    // Checked whole first: nothing is applied when any line is refused.
    std::vector<std::pair<const SectionDef*, std::vector<Change>>> plan;
    std::istringstream lines(ini);
    std::string line;
    std::string sectionName;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        std::string text = trimmed(line);
        if (text.empty() || text[0] == ';' || text[0] == '#') {
            continue;
        }
        if (text.front() == '[') {
            if (text.back() != ']') {
                return refusal(kInvalidValueError,
                               "line " + std::to_string(number) + ": a section header without ']'");
            }
            sectionName = trimmed(text.substr(1, text.size() - 2));
            const SectionDef* section = findPresentSection(service_.readers(), sectionName);
            if (section == nullptr) {
                return refusal(kUnknownSettingError,
                               "no section [" + sectionName + "] on this terminal");
            }
            plan.emplace_back(section, std::vector<Change>{});
            continue;
        }
        std::size_t equals = text.find('=');
        if (equals == std::string::npos || plan.empty()) {
            return refusal(kInvalidValueError,
                           "line " + std::to_string(number) + ": not key=value in a section");
        }
        Change change{};
        SettingAnswer checked = check(service_, sectionName, trimmed(text.substr(0, equals)),
                                      trimmed(text.substr(equals + 1)), change);
        if (!checked.error.empty()) {
            return checked;
        }
        plan.back().second.push_back(change);
    }
    SettingAnswer answer;
    bool changed = false;
    for (const auto& [section, changes] : plan) {
        if (changes.empty()) {
            continue;
        }
        answer = apply(service_, *section, changes);
        if (!answer.error.empty()) {
            break;
        }
        changed = true;
    }
    // What reached the engine is kept at once, also when a later section was refused.
    if (changed) {
        service_.saveSettings();
    }
    return answer;
}

}  // namespace vandora
