#include "config/SettingLimits.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>

#include "config/SettingSections.h"

namespace vandora {

namespace {

enum class Form : std::uint8_t {
    Range,   // an integer from low to high
    Text,    // any text up to high characters
    HexKey,  // exactly 12 hexadecimal digits
};

// Who may read a value back.
enum class Reading : std::uint8_t {
    Open,    // every caller allowed to call the service
    Secret,  // only callers who may change settings; masked on screen
};

struct Limit {
    KeyRef key;
    Form form = Form::Range;
    std::int32_t low = 0;
    std::int32_t high = 0;
    Reading reading = Reading::Open;
};

// clang-format off
constexpr Limit kLimits[] = {
    {key(kGeneral, "goodReadBeepFileIdx"), Form::Range, 0, 9},
    {key(kGeneral, "warningBeepFileIdx"), Form::Range, 0, 9},
    {key(kGeneral, "vibrationTime"), Form::Range, 0, 10},
    {key(kGeneral, "keyboardEmu"), Form::Range, 0, 2},
    {key(kGeneral, "windowMessage"), Form::Range, 0, 1},
    {key(kGeneral, "windowEvent"), Form::Range, 0, 1},
    {key(kGeneral, "autoEnter"), Form::Range, 0, 2},
    {key(kGeneral, "autoEnterChar"), Form::Range, 0, 5},
    {key(kGeneral, "prefixStr"), Form::Text, 0, 255},
    {key(kGeneral, "suffixStr"), Form::Text, 0, 255},
    {key(kGeneral, "displayCodeType"), Form::Range, 0, 1},
    {key(kGeneral, "displayCodeLength"), Form::Range, 0, 1},
    {key(kGeneral, "displayUid"), Form::Range, 0, 1},
    {key(kGeneral, "displayUserData"), Form::Range, 0, 1},
    {key(kGeneral, "delimiter"), Form::Range, 0, 126},
    {key(kGeneral, "wantMaxWindow"), Form::Range, 0, 1},
    {key(kGeneral, "enableLed"), Form::Range, 0, 1},
    {key(kGeneral, "buzzerDuration"), Form::Range, 0, 255},
    {key(kGeneral, "buzzerFreq"), Form::Range, 0, 65535},
    {key(kGeneral, "imagePath"), Form::Text, 0, 4095},
    {key(kGeneral, "interKeyDelay"), Form::Range, 0, 1000},
    {key(kGeneral, "terminatorDelay"), Form::Range, 0, 5000},
    {key(kGeneral, "unicodeEntry"), Form::Range, 0, 1},
    {key(kRfid, "hasRfid"), Form::Range, 0, 7},
    {key(kRfid, "enableRfid"), Form::Range, 0, 1},
    {key(kRfid, "rfidRW"), Form::Range, 0, 1},
    {key(kRfid, "rfidReadStartByte"), Form::Range, -1, 4095},
    {key(kRfid, "rfidReadLength"), Form::Range, -1, 4095},
    {key(kRfid, "displayUserDataByHex"), Form::Range, 0, 1},
    {key(kRfid, "rfidWriteStartByte"), Form::Range, -1, 4095},
    {key(kRfid, "rfidWriteContent"), Form::Text, 0, 4095},
    {key(kRfid, "isHexContent"), Form::Range, 0, 1},
    {key(kRfid, "mifareLoginKeyA"), Form::HexKey, 12, 12, Reading::Secret},
    {key(kRfid, "m_rfidSecurityKeyType"), Form::Range, 0, 1},
    {key(kRfid, "timeOfPowerOn"), Form::Range, 0, 600},
    {key(kReaderCcd, "redundancy"), Form::Range, 0, 3},
    {key(kReaderCcd, "laserOnTime"), Form::Range, 1, 9},
    {key(kReaderCcd, "scanMode"), Form::Range, 0, 7},
    {key(kReader2D, "laserOnTime"), Form::Range, 10, 90},
    {key(kReader2D, "timeoutBetweenSameSymbol"), Form::Range, 0, 99},
    {key(kReader2D, "imgFocus"), Form::Range, 0, 2},
    {key(kReader1DLr, "laserOnTime"), Form::Range, 10, 90},
    {key(kReader1DLr, "scanAngle"), Form::Range, 0, 255},
    {key(kReader1DLr, "timeoutBetweenSameSymbol"), Form::Range, 0, 99},
    {key(kReader1DLr, "aimDurtion"), Form::Range, 0, 90},
    {key(kReader1DLr, "scanMode"), Form::Range, 0, 255},
    {key(kImage2D, "gain"), Form::Range, 0, 255},
    {key(kImage2D, "qualityValue"), Form::Range, 5, 100},
    {key(kImage2D, "jpgSizeValue"), Form::Range, 5, 150},
};
// clang-format on

// Keys without a row: a program switch or an engine byte.
constexpr std::int32_t kAnyByteLow = 0;
constexpr std::int32_t kAnyByteHigh = 255;

bool parseInt(std::string_view text, std::int32_t& out) {
    if (text.empty()) {
        return false;
    }
    std::string_view digits = text;
    if (digits.front() == '+') {
        digits.remove_prefix(1);
    }
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), out);
    return ec == std::errc() && end == digits.data() + digits.size();
}

bool inRange(std::string_view value, std::int32_t low, std::int32_t high, std::string& why) {
    std::int32_t number = 0;
    if (!parseInt(value, number)) {
        why = "not a number";
        return false;
    }
    if (number < low || number > high) {
        why = "outside " + std::to_string(low) + " to " + std::to_string(high);
        return false;
    }
    return true;
}

// Names compare as the store compares them: without regard to the case of A to Z.
bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The row of the key; null when it has none.
const Limit* limitOf(const SectionDef& section, const SectionKey& key) {
    for (const Limit& limit : kLimits) {
        if (limit.key.in(section) && limit.key.name() == key.name) {
            return &limit;
        }
    }
    return nullptr;
}

}  // namespace

bool settingIsSecret(const SectionDef& section, std::string_view key) {
    for (const Limit& limit : kLimits) {
        if (limit.key.in(section) && sameName(limit.key.name(), key)) {
            return limit.reading == Reading::Secret;
        }
    }
    return false;
}

bool settingValueValid(const SectionDef& section, const SectionKey& key, std::string_view value,
                       std::string& why) {
    if (const Limit* found = limitOf(section, key)) {
        const Limit& limit = *found;
        switch (limit.form) {
            case Form::Range:
                return inRange(value, limit.low, limit.high, why);
            case Form::Text:
                if (value.size() > static_cast<std::size_t>(limit.high)) {
                    why = "longer than " + std::to_string(limit.high) + " characters";
                    return false;
                }
                return true;
            case Form::HexKey:
                for (char c : value) {
                    if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
                        why = "not hexadecimal";
                        return false;
                    }
                }
                if (value.size() != static_cast<std::size_t>(limit.high)) {
                    why = "not 12 hexadecimal digits";
                    return false;
                }
                return true;
        }
    }
    if (key.kind == KeyKind::Text) {
        if (value.size() > 4095) {
            why = "longer than 4095 characters";
            return false;
        }
        return true;
    }
    return inRange(value, kAnyByteLow, kAnyByteHigh, why);
}

std::string settingAllowed(const SectionDef& section, const SectionKey& key) {
    const Limit* limit = limitOf(section, key);
    if (limit == nullptr) {
        return key.kind == KeyKind::Text
                   ? "text of up to 4095 characters"
                   : std::to_string(kAnyByteLow) + " to " + std::to_string(kAnyByteHigh);
    }
    switch (limit->form) {
        case Form::Range:
            return std::to_string(limit->low) + " to " + std::to_string(limit->high);
        case Form::Text:
            return "text of up to " + std::to_string(limit->high) + " characters";
        case Form::HexKey:
            return std::to_string(limit->high) + " hexadecimal digits";
    }
    return {};
}

std::vector<std::string> invalidStoredValues(const IniStore& store) {
    std::vector<std::string> found;
    for (const IniSection& stored : store.sections()) {
        std::string sectionName = stored.name().narrow();
        for (const IniEntry& entry : stored.entries()) {
            std::string keyName = entry.key.narrow();
            for (const SectionDef* section : kAllSections) {
                if (!sameName(sectionName, section->name)) {
                    continue;
                }
                const SectionKey* key = nullptr;
                for (const SectionKey& candidate : section->keys) {
                    if (sameName(keyName, candidate.name)) {
                        key = &candidate;
                    }
                }
                std::string value = entry.value.narrow();
                std::string why;
                if (key == nullptr || settingValueValid(*section, *key, value, why)) {
                    continue;
                }
                // The log must never hold a key, not even a mistyped one.
                std::string shown = settingIsSecret(*section, key->name) ? "(hidden)" : value;
                found.push_back("[" + std::string(section->name) + "] " + std::string(key->name) +
                                "=" + shown + ": " + why +
                                " (allowed: " + settingAllowed(*section, *key) + ")");
                break;  // sections sharing a name report a value once
            }
        }
    }
    return found;
}

}  // namespace vandora
