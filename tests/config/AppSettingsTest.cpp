#include <gtest/gtest.h>

#include "config/AppSettings.h"

namespace vandora::testing {
namespace {

struct IntField {
    const char* name;
    std::int32_t AppSettings::*field;
    std::int32_t defaultValue;
    bool reset;  // restored by resetToDefaults, else kept
};

const IntField kIntFields[] = {
    {"goodReadBeepFileIdx", &AppSettings::goodReadBeepFileIdx, 1, true},
    {"warningBeepFileIdx", &AppSettings::warningBeepFileIdx, 2, true},
    {"vibrationTime", &AppSettings::vibrationTime, 0, true},
    {"keyboardEmu", &AppSettings::keyboardEmu, 1, true},
    {"windowMessage", &AppSettings::windowMessage, 0, true},
    {"windowEvent", &AppSettings::windowEvent, 0, true},
    {"autoEnter", &AppSettings::autoEnter, 1, true},
    {"autoEnterChar", &AppSettings::autoEnterChar, 1, true},
    {"displayCodeType", &AppSettings::displayCodeType, 0, true},
    {"displayCodeLength", &AppSettings::displayCodeLength, 0, true},
    {"displayUid", &AppSettings::displayUid, 1, true},
    {"displayUserData", &AppSettings::displayUserData, 0, true},
    {"delimiter", &AppSettings::delimiter, 44, true},
    {"wantMaxWindow", &AppSettings::wantMaxWindow, 1, true},
    {"enableLed", &AppSettings::enableLed, 0, true},
    {"buzzerDuration", &AppSettings::buzzerDuration, 0, true},
    {"buzzerFreq", &AppSettings::buzzerFreq, 1, true},
    {"imageEnable", &AppSettings::imageEnable, 0, true},
    {"rfidRW", &AppSettings::rfidRW, 0, true},
    {"rfidReadStartByte", &AppSettings::rfidReadStartByte, -1, true},
    {"rfidReadLength", &AppSettings::rfidReadLength, 10, true},
    {"displayUserDataByHex", &AppSettings::displayUserDataByHex, 0, true},
    {"rfidWriteStartByte", &AppSettings::rfidWriteStartByte, -1, true},
    {"isHexContent", &AppSettings::isHexContent, 0, true},
    {"m_rfidSecurityKeyType", &AppSettings::m_rfidSecurityKeyType, 0, true},
    {"timeOfPowerOn", &AppSettings::timeOfPowerOn, 0, false},
    {"enableBarcode", &AppSettings::enableBarcode, 0, false},
    {"enableRfid", &AppSettings::enableRfid, 0, false},
    {"hasRfid", &AppSettings::hasRfid, 0, false},
};

TEST(AppSettings, ResetRestoresItsListAndKeepsTheRest) {
    AppSettings s;
    for (const IntField& f : kIntFields) {
        EXPECT_EQ(s.*f.field, f.defaultValue) << f.name << " default";
        s.*f.field = 77;
    }
    s.prefixStr = "p";
    s.suffixStr = "s";
    s.rfidWriteContent = "w";
    s.imagePath = "/img/";
    s.mifareLoginKeyA = "000000000000";

    s.resetToDefaults();
    for (const IntField& f : kIntFields) {
        EXPECT_EQ(s.*f.field, f.reset ? f.defaultValue : 77) << f.name;
    }
    EXPECT_EQ(s.prefixStr, "p");
    EXPECT_EQ(s.suffixStr, "s");
    EXPECT_EQ(s.rfidWriteContent, "w");
    EXPECT_EQ(s.imagePath, "/img/");
    EXPECT_EQ(s.mifareLoginKeyA, "3C5A9E71B2D4");
}

}  // namespace
}  // namespace vandora::testing
