#include "config/AppSettings.h"

namespace vandora {

void AppSettings::resetToDefaults() {
    const AppSettings defaults;
    goodReadBeepFileIdx = defaults.goodReadBeepFileIdx;
    warningBeepFileIdx = defaults.warningBeepFileIdx;
    vibrationTime = defaults.vibrationTime;
    keyboardEmu = defaults.keyboardEmu;
    wantMaxWindow = defaults.wantMaxWindow;
    windowMessage = defaults.windowMessage;
    windowEvent = defaults.windowEvent;
    autoEnter = defaults.autoEnter;
    autoEnterChar = defaults.autoEnterChar;
    displayCodeType = defaults.displayCodeType;
    displayCodeLength = defaults.displayCodeLength;
    displayUid = defaults.displayUid;
    displayUserData = defaults.displayUserData;
    delimiter = defaults.delimiter;
    imageEnable = defaults.imageEnable;
    enableLed = defaults.enableLed;
    buzzerDuration = defaults.buzzerDuration;
    buzzerFreq = defaults.buzzerFreq;
    interKeyDelay = defaults.interKeyDelay;
    terminatorDelay = defaults.terminatorDelay;
    unicodeEntry = defaults.unicodeEntry;
    displayUserDataByHex = defaults.displayUserDataByHex;
    rfidRW = defaults.rfidRW;
    isHexContent = defaults.isHexContent;
    rfidReadStartByte = defaults.rfidReadStartByte;
    rfidReadLength = defaults.rfidReadLength;
    rfidWriteStartByte = defaults.rfidWriteStartByte;
    mifareLoginKeyA = defaults.mifareLoginKeyA;
    m_rfidSecurityKeyType = defaults.m_rfidSecurityKeyType;
}

std::array<FieldRef, kGeneralKeyCount> AppSettings::generalFields() {
    return {&goodReadBeepFileIdx, &warningBeepFileIdx, &vibrationTime,   &keyboardEmu,
            &windowMessage,       &windowEvent,        &autoEnter,       &autoEnterChar,
            &prefixStr,           &suffixStr,          &displayCodeType, &displayCodeLength,
            &displayUid,          &displayUserData,    &delimiter,       &wantMaxWindow,
            &enableLed,           &buzzerDuration,     &buzzerFreq,      &imagePath,
            &interKeyDelay,       &terminatorDelay,    &unicodeEntry};
}

std::array<FieldRef, kRfidKeyCount> AppSettings::rfidFields() {
    return {&hasRfid,
            &enableRfid,
            &rfidRW,
            &rfidReadStartByte,
            &rfidReadLength,
            &displayUserDataByHex,
            &rfidWriteStartByte,
            &rfidWriteContent,
            &isHexContent,
            &mifareLoginKeyA,
            &m_rfidSecurityKeyType,
            &timeOfPowerOn};
}

}  // namespace vandora
