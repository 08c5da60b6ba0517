// The limits a management tool's value must keep, key by key: each limited key takes its lowest
// and highest value and refuses one past either end and a non-number; text keys take their
// longest text and refuse one character more; the Mifare key takes exactly 12 hexadecimal digits
// and is the one secret.
#include <gtest/gtest.h>

#include <string>

#include "config/SettingLimits.h"
#include "config/SettingSections.h"

namespace vandora::testing {
namespace {

enum class Kind { Range, Text, HexKey };

struct LimitRow {
    const SectionDef* section;
    const char* key;
    Kind kind;
    std::int32_t low;
    std::int32_t high;  // Text: the longest text
    bool secret = false;
};

// clang-format off
const LimitRow kRows[] = {
    {&kGeneral, "goodReadBeepFileIdx", Kind::Range, 0, 9},
    {&kGeneral, "warningBeepFileIdx", Kind::Range, 0, 9},
    {&kGeneral, "vibrationTime", Kind::Range, 0, 10},
    {&kGeneral, "keyboardEmu", Kind::Range, 0, 2},
    {&kGeneral, "windowMessage", Kind::Range, 0, 1},
    {&kGeneral, "windowEvent", Kind::Range, 0, 1},
    {&kGeneral, "autoEnter", Kind::Range, 0, 2},
    {&kGeneral, "autoEnterChar", Kind::Range, 0, 5},
    {&kGeneral, "prefixStr", Kind::Text, 0, 255},
    {&kGeneral, "suffixStr", Kind::Text, 0, 255},
    {&kGeneral, "displayCodeType", Kind::Range, 0, 1},
    {&kGeneral, "displayCodeLength", Kind::Range, 0, 1},
    {&kGeneral, "displayUid", Kind::Range, 0, 1},
    {&kGeneral, "displayUserData", Kind::Range, 0, 1},
    {&kGeneral, "delimiter", Kind::Range, 0, 126},
    {&kGeneral, "wantMaxWindow", Kind::Range, 0, 1},
    {&kGeneral, "enableLed", Kind::Range, 0, 1},
    {&kGeneral, "buzzerDuration", Kind::Range, 0, 255},
    {&kGeneral, "buzzerFreq", Kind::Range, 0, 65535},
    {&kGeneral, "imagePath", Kind::Text, 0, 4095},
    {&kGeneral, "interKeyDelay", Kind::Range, 0, 1000},
    {&kGeneral, "terminatorDelay", Kind::Range, 0, 5000},
    {&kGeneral, "unicodeEntry", Kind::Range, 0, 1},
    {&kRfid, "hasRfid", Kind::Range, 0, 7},
    {&kRfid, "enableRfid", Kind::Range, 0, 1},
    {&kRfid, "rfidRW", Kind::Range, 0, 1},
    {&kRfid, "rfidReadStartByte", Kind::Range, -1, 4095},
    {&kRfid, "rfidReadLength", Kind::Range, -1, 4095},
    {&kRfid, "displayUserDataByHex", Kind::Range, 0, 1},
    {&kRfid, "rfidWriteStartByte", Kind::Range, -1, 4095},
    {&kRfid, "rfidWriteContent", Kind::Text, 0, 4095},
    {&kRfid, "isHexContent", Kind::Range, 0, 1},
    {&kRfid, "mifareLoginKeyA", Kind::HexKey, 12, 12, true},
    {&kRfid, "m_rfidSecurityKeyType", Kind::Range, 0, 1},
    {&kRfid, "timeOfPowerOn", Kind::Range, 0, 600},
    {&kReaderCcd, "redundancy", Kind::Range, 0, 3},
    {&kReaderCcd, "laserOnTime", Kind::Range, 1, 9},
    {&kReaderCcd, "scanMode", Kind::Range, 0, 7},
    {&kReader2D, "laserOnTime", Kind::Range, 10, 90},
    {&kReader2D, "timeoutBetweenSameSymbol", Kind::Range, 0, 99},
    {&kReader2D, "imgFocus", Kind::Range, 0, 2},
    {&kReader1DLr, "laserOnTime", Kind::Range, 10, 90},
    {&kReader1DLr, "scanAngle", Kind::Range, 0, 255},
    {&kReader1DLr, "timeoutBetweenSameSymbol", Kind::Range, 0, 99},
    {&kReader1DLr, "aimDurtion", Kind::Range, 0, 90},
    {&kReader1DLr, "scanMode", Kind::Range, 0, 255},
    {&kImage2D, "gain", Kind::Range, 0, 255},
    {&kImage2D, "qualityValue", Kind::Range, 5, 100},
    {&kImage2D, "jpgSizeValue", Kind::Range, 5, 150},
};
// clang-format on

const SectionKey* keyOf(const SectionDef& section, std::string_view name) {
    for (const SectionKey& key : section.keys) {
        if (key.name == name) {
            return &key;
        }
    }
    return nullptr;
}

// What the check says of a value: "" when it takes it, else the reason.
std::string verdict(const SectionDef& section, const SectionKey& key, const std::string& value) {
    std::string why;
    return settingValueValid(section, key, value, why) ? "" : why;
}

TEST(SettingLimits, EachLimitedKeyTakesItsEndsAndRefusesPastThem) {
    for (const LimitRow& row : kRows) {
        SCOPED_TRACE(std::string(row.section->name) + " " + row.key);
        const SectionKey* key = keyOf(*row.section, row.key);
        ASSERT_NE(key, nullptr) << "the section has no such key";
        const SectionDef& section = *row.section;
        EXPECT_EQ(settingIsSecret(section, row.key), row.secret);
        switch (row.kind) {
            case Kind::Range: {
                std::string range = std::to_string(row.low) + " to " + std::to_string(row.high);
                EXPECT_EQ(verdict(section, *key, std::to_string(row.low)), "");
                EXPECT_EQ(verdict(section, *key, std::to_string(row.high)), "");
                EXPECT_EQ(verdict(section, *key, std::to_string(row.low - 1)), "outside " + range);
                EXPECT_EQ(verdict(section, *key, std::to_string(row.high + 1)), "outside " + range);
                EXPECT_EQ(verdict(section, *key, "1x"), "not a number");
                EXPECT_EQ(verdict(section, *key, ""), "not a number");
                EXPECT_EQ(settingAllowed(section, *key), range);
                break;
            }
            case Kind::Text: {
                auto text = [](std::int32_t n) { return std::string(static_cast<size_t>(n), 'x'); };
                EXPECT_EQ(verdict(section, *key, ""), "");
                EXPECT_EQ(verdict(section, *key, text(row.high)), "");
                EXPECT_EQ(verdict(section, *key, text(row.high + 1)),
                          "longer than " + std::to_string(row.high) + " characters");
                break;
            }
            case Kind::HexKey:
                EXPECT_EQ(verdict(section, *key, "0123456789aF"), "");
                EXPECT_EQ(verdict(section, *key, "0123456789A"), "not 12 hexadecimal digits");
                EXPECT_EQ(verdict(section, *key, "0123456789ABC"), "not 12 hexadecimal digits");
                EXPECT_EQ(verdict(section, *key, "0123456789AG"), "not hexadecimal");
                EXPECT_EQ(settingAllowed(section, *key), "12 hexadecimal digits");
                break;
        }
    }
}

// The secret is found whatever the case of the name; a key of the same name in another section
// is none.
TEST(SettingLimits, TheMifareKeyIsSecretInAnyCaseOnlyInItsSection) {
    EXPECT_TRUE(settingIsSecret(kRfid, "MIFARELOGINKEYA"));
    EXPECT_FALSE(settingIsSecret(kGeneral, "mifareLoginKeyA"));
}

}  // namespace
}  // namespace vandora::testing
